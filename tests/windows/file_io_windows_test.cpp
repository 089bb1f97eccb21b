// Files on Windows where they differ from the POSIX stand-in: sharing is enforced, and the
// owner-only security is a protected access list for the process's user alone; the folder lock
// is a mutex that must be the user's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/file_io.h"
#include "platform/folder_lock.h"
#include "platform/test_hooks.h"

namespace {

// FILE_GENERIC_WRITE names it, and the platform's declarations replace the system's macro.
using sys::FILE_WRITE_ATTRIBUTES;

class FileIoWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("ralto-files-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::u16string Name(const char* name) const { return (folder / name).u16string(); }

  static sys::HANDLE Open(const std::u16string& name, sys::DWORD access, sys::DWORD share,
                          sys::DWORD creation, void* security = nullptr) {
    return sys::CreateFileW(name.c_str(), access, share, security, creation,
                            sys::FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  std::filesystem::path folder;
};

TEST_F(FileIoWindowsTest, AFileOpenedWithoutSharingRefusesASecondWriter) {
  std::u16string name = Name("shared");
  sys::HANDLE writer = Open(name, sys::GENERIC_WRITE, sys::FILE_SHARE_READ, sys::CREATE_ALWAYS);
  ASSERT_NE(writer, sys::INVALID_HANDLE_VALUE);

  EXPECT_EQ(Open(name, sys::GENERIC_WRITE, sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE,
                 sys::OPEN_EXISTING),
            sys::INVALID_HANDLE_VALUE);
  EXPECT_EQ(sys::GetLastError(), sys::ERROR_SHARING_VIOLATION);

  sys::HANDLE reader = Open(name, sys::GENERIC_READ, sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE,
                            sys::OPEN_EXISTING);
  EXPECT_NE(reader, sys::INVALID_HANDLE_VALUE);
  sys::CloseHandle(reader);
  sys::CloseHandle(writer);

  // Once the writer is gone, a second one may open it.
  sys::HANDLE again = Open(name, sys::GENERIC_WRITE, 0, sys::OPEN_EXISTING);
  EXPECT_NE(again, sys::INVALID_HANDLE_VALUE);
  sys::CloseHandle(again);
}

TEST_F(FileIoWindowsTest, OwnerOnlySecurityGivesOneEntryForTheProcessUser) {
  sys::SECURITY_ATTRIBUTES* security = sys::OwnerOnlySecurity();
  ASSERT_NE(security, nullptr);
  ASSERT_NE(security->lpSecurityDescriptor, nullptr);
  EXPECT_EQ(security, sys::OwnerOnlySecurity());

  auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(security->lpSecurityDescriptor);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder's entries would be inherited";

  BOOL present = 0;
  BOOL defaulted = 0;
  PACL list = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
  ASSERT_TRUE(present);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->AceCount, 1);
  void* entry = nullptr;
  ASSERT_TRUE(GetAce(list, 0, &entry));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Mask & (FILE_GENERIC_READ | FILE_GENERIC_WRITE),
            static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_WRITE));

  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(8) unsigned char user[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  CloseHandle(token);
  EXPECT_TRUE(EqualSid(&allowed->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid));

  // A file made with it can be written and read back by its owner.
  std::u16string name = Name("secret");
  sys::HANDLE file = Open(name, sys::GENERIC_WRITE, 0, sys::CREATE_ALWAYS, security);
  ASSERT_NE(file, sys::INVALID_HANDLE_VALUE);
  sys::DWORD written = 0;
  EXPECT_TRUE(sys::WriteFile(file, "pw", 2, &written, nullptr));
  sys::CloseHandle(file);
  sys::HANDLE reader = Open(name, sys::GENERIC_READ, sys::FILE_SHARE_READ, sys::OPEN_EXISTING);
  ASSERT_NE(reader, sys::INVALID_HANDLE_VALUE);
  char bytes[4] = {};
  sys::DWORD read = 0;
  EXPECT_TRUE(sys::ReadFile(reader, bytes, sizeof bytes, &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), "pw");
  sys::CloseHandle(reader);
}

TEST_F(FileIoWindowsTest, AFolderMutexOfAnotherOwnerIsNoLockOfOurs) {
  const std::u16string name = folder.u16string();
  sys::HANDLE first = nullptr;
  sys::HANDLE again = nullptr;
  ASSERT_EQ(sys::LockFolder(name.c_str(), &first), sys::FolderLockTaken);
  // The mutex exists now; this thread owns it already, so one of ours is taken again.
  EXPECT_EQ(sys::LockFolder(name.c_str(), &again), sys::FolderLockTaken);
  sys::UnlockFolder(again);
  // Named by the file index route, the folder has the mutex this thread holds: held for another.
  sys::TellNoFileIds(1);
  std::thread([&] {
    EXPECT_EQ(sys::LockFolder(name.c_str(), &again), sys::FolderLockHeld);
  }).join();
  sys::NameFolderMutexOwner(u"S-1-5-21-1-2-3-1001");
  EXPECT_EQ(sys::LockFolder(name.c_str(), &again), sys::FolderLockUnavailable);
  EXPECT_EQ(again, nullptr);
  sys::UnlockFolder(first);
  // Where the file system tells no ID, a folder's path tells it: a new mutex for each.
  sys::TellNoFileIds(2);
  std::filesystem::create_directory(folder / "other");
  EXPECT_EQ(sys::LockFolder(Name("other").c_str(), &first), sys::FolderLockTaken);
  EXPECT_EQ(sys::LockFolder(name.c_str(), &again), sys::FolderLockTaken);
  sys::TellNoFileIds(0);
  sys::NameFolderMutexOwner(nullptr);
  sys::UnlockFolder(again);
  sys::UnlockFolder(first);
}

}  // namespace
