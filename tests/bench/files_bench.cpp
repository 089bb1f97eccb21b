// Sequential files against the standard streams: lines read from a 64 MiB UTF-8 file (decoded
// to UTF-16 on our side) and many short texts written.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/heap.h"
#include "runtime/files/line_reader.h"
#include "runtime/files/sequential_file.h"
#include "runtime/strings/heaps.h"
#include "runtime/strings/string_area.h"

namespace {

constexpr std::size_t FileBytes = 64u << 20;
constexpr std::size_t LineBytes = 40;
constexpr std::size_t LineCount = FileBytes / LineBytes;
constexpr int ShortTexts = 1 << 20;
const char16_t ShortText[] = u"203.0.113.77 nochg\r\n";
const char ShortBytes[] = "203.0.113.77 nochg\r\n";

// The folder, the line file in it and the runtime, made once for every benchmark.
struct Workbench {
  Workbench() {
    char pattern[] = "/tmp/ralto-files-bench-XXXXXX";
    folder = mkdtemp(pattern);
    lines = folder / "lines.txt";
    std::ofstream out(lines, std::ios::binary);
    std::string line;
    for (std::size_t i = 0; i < LineCount; ++i) {
      line = "198.51.100." + std::to_string(i % 256) + " host-" + std::to_string(i);
      line.resize(LineBytes - 1, '.');
      out << line << '\n';
    }
    ralto::generalHeap = sys::HeapCreate(0, 4096, 0);
    ralto::StartStringArea();
    ralto::InitFileTable();
  }
  ~Workbench() {
    ralto::CloseAllFiles();
    ralto::StopStringArea();
    sys::HeapDestroy(ralto::generalHeap);
    std::filesystem::remove_all(folder);
  }
  std::u16string Name(const std::filesystem::path& path) const {
    std::string text = path.string();
    return std::u16string(text.begin(), text.end());  // the folder's name is ASCII
  }
  std::filesystem::path folder;
  std::filesystem::path lines;
};

Workbench& Bench() {
  static Workbench bench;
  return bench;
}

void ReadTextLineUtf8(benchmark::State& state) {
  std::u16string name = Bench().Name(Bench().lines);
  for (auto _ : state) {
    if (!ralto::OpenFileForRead(0, name.c_str())) state.SkipWithError("cannot open");
    for (std::size_t i = 0; i < LineCount; ++i) {
      ralto::ReadTextLine(0, 0);
      benchmark::DoNotOptimize(ralto::TempText(0)[0]);
      ralto::ResetTemp(0);
    }
    ralto::CloseFileSlot(0);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileBytes));
}
BENCHMARK(ReadTextLineUtf8)->Unit(benchmark::kMillisecond);

void GetlineIfstream(benchmark::State& state) {
  std::filesystem::path path = Bench().lines;
  std::string line;
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    while (std::getline(in, line)) benchmark::DoNotOptimize(line.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileBytes));
}
BENCHMARK(GetlineIfstream)->Unit(benchmark::kMillisecond);

void WriteTextShortUtf8(benchmark::State& state) {
  std::u16string name = Bench().Name(Bench().folder / "written.txt");
  for (auto _ : state) {
    if (!ralto::CreateFileForWrite(0, name.c_str())) state.SkipWithError("cannot create");
    for (int i = 0; i < ShortTexts; ++i) ralto::WriteText(0, ShortText);
    ralto::CloseFileSlot(0);
  }
  state.SetBytesProcessed(state.iterations() * ShortTexts * (sizeof ShortBytes - 1));
}
BENCHMARK(WriteTextShortUtf8)->Unit(benchmark::kMillisecond);

void WriteOfstream(benchmark::State& state) {
  std::filesystem::path path = Bench().folder / "streamed.txt";
  for (auto _ : state) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < ShortTexts; ++i) out << ShortBytes;
  }
  state.SetBytesProcessed(state.iterations() * ShortTexts * (sizeof ShortBytes - 1));
}
BENCHMARK(WriteOfstream)->Unit(benchmark::kMillisecond);

}  // namespace
