#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ui/message_catalogue.h"
#include "settings/settings_store_win32.h"

namespace sq71 {
namespace {

class RecordingMessages : public Messages {
 public:
  void ShowMessage(int number, MessageStyle style) override { shown.emplace_back(number, style); }
  int AskQuestion(int number) override {
    shown.emplace_back(number, MessageStyle::kQuestion);
    return kAnswerNo;
  }
  std::vector<std::pair<int, MessageStyle>> shown;
};

void DeleteSettingsKey() { RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaleData"); }

bool SettingsKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaleData", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// Stores raw data under a value, bypassing the store, to set up odd cases.
void PutRawValue(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaleData", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH * 4];
  GetCurrentDirectoryA(sizeof(buffer), buffer);
  return buffer;
}

// Each test starts and ends without the key, in a known current directory.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettingsKey();
    saved_directory_ = CurrentDirectory();
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    ASSERT_TRUE(SetCurrentDirectoryA(temp));
    current_ = CurrentDirectory();
  }
  void TearDown() override {
    DeleteSettingsKey();
    SetCurrentDirectoryA(saved_directory_.c_str());
  }

  static std::string Read(const char* name) { return SettingsRead(name); }

  std::string saved_directory_;
  std::string current_;
};

TEST_F(SettingsStoreTest, FirstRunReadsTheCurrentDirectoryAndCreatesNothing) {
  EXPECT_EQ(Read(kLogLoadDir), current_);
  EXPECT_EQ(Read(kLogSaveDir), current_);
  EXPECT_EQ(Read(kExportDir), current_);
  EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(SettingsStoreTest, FallbackFollowsTheCurrentDirectory) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof(windows));
  ASSERT_TRUE(SetCurrentDirectoryA(windows));
  EXPECT_EQ(Read(kExportDir), CurrentDirectory());
  EXPECT_NE(Read(kExportDir), current_);
}

TEST_F(SettingsStoreTest, MissingValueInAnExistingKeyReadsTheCurrentDirectory) {
  const char other[] = "C:\\elsewhere";
  PutRawValue(kLogSaveDir, REG_SZ, other, sizeof(other));
  EXPECT_EQ(Read(kLogLoadDir), current_);
  EXPECT_EQ(Read(kLogSaveDir), "C:\\elsewhere");
}

// Past the old 1024-byte buffer, an odd count of bytes without a terminator
// among them.
TEST_F(SettingsStoreTest, ValuesOfAnyLengthAreReadWhole) {
  const std::string path = "C:\\" + std::string(5000, 'a');
  PutRawValue(kExportDir, REG_BINARY, path.data(), static_cast<DWORD>(path.size()));
  EXPECT_EQ(Read(kExportDir), path);
}

TEST_F(SettingsStoreTest, DataWithoutTerminatorIsNotReadBeyond) {
  PutRawValue(kLogLoadDir, REG_BINARY, "abc", 3);
  EXPECT_EQ(Read(kLogLoadDir), "abc");

  DWORD four_letters = 0x44434241;  // "ABCD", no NUL among its bytes
  PutRawValue(kLogSaveDir, REG_DWORD, &four_letters, sizeof(four_letters));
  EXPECT_EQ(Read(kLogSaveDir), "ABCD");

  DWORD three_letters = 0x00434241;  // "ABC" and a NUL
  PutRawValue(kExportDir, REG_DWORD, &three_letters, sizeof(three_letters));
  EXPECT_EQ(Read(kExportDir), "ABC");
}

TEST_F(SettingsStoreTest, TextEndsAtTheFirstNul) {
  const char data[] = "C:\\one\0C:\\two";
  PutRawValue(kLogLoadDir, REG_SZ, data, sizeof(data));
  EXPECT_EQ(Read(kLogLoadDir), "C:\\one");
}

TEST_F(SettingsStoreTest, EmptyValueReadsAsEmpty) {
  PutRawValue(kLogLoadDir, REG_SZ, "", 1);
  EXPECT_EQ(Read(kLogLoadDir), "");
}

TEST_F(SettingsStoreTest, WriteThenReadGivesTheSameText) {
  RecordingMessages messages;
  SettingsWrite("C:\\logs\\march", kLogLoadDir, &messages);
  SettingsWrite("Z:\\tmp\\saved logs", kLogSaveDir, &messages);
  SettingsWrite("D:\\", kExportDir, &messages);
  EXPECT_TRUE(SettingsKeyExists());
  EXPECT_EQ(Read(kLogLoadDir), "C:\\logs\\march");
  EXPECT_EQ(Read(kLogSaveDir), "Z:\\tmp\\saved logs");
  EXPECT_EQ(Read(kExportDir), "D:\\");

  // A second write replaces the first.
  SettingsWrite("C:\\other", kLogLoadDir, &messages);
  EXPECT_EQ(Read(kLogLoadDir), "C:\\other");
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SettingsStoreTest, WriteStoresAStringWithItsTerminator) {
  SettingsWrite("C:\\logs", kExportDir, nullptr);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\CorvaleData", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0;
  BYTE data[64];
  DWORD size = sizeof(data);
  ASSERT_EQ(RegQueryValueExA(key, kExportDir, nullptr, &type, data, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 8u);  // "C:\logs" and its NUL
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "C:\\logs");
}

}  // namespace
}  // namespace sq71
