// A fresh folder under the system's temporary folder, for a test to fill and remove.
#pragma once
#include <filesystem>
#include <random>
#include <string>

namespace ralto {

// Empty when no folder could be made.
inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
  std::random_device random;
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return {};
  // create_directory refuses a name that exists: another test's folder is never shared.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path folder = base / (prefix + std::to_string(random()));
    if (std::filesystem::create_directory(folder, error)) return folder;
  }
  return {};
}

}  // namespace ralto
