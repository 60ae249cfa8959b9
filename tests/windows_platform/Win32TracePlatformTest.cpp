// The trace's Win32 files: folders made on the way, a file that cannot be
// used is refused with a reason, and rolling over keeps the previous file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/Win32TracePlatform.h"

namespace norvik {
namespace {

std::string TempFolder(const char* name) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name;
}

std::string Contents(const std::string& path) {
    std::string text;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    char buffer[256];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    ::CloseHandle(file);
    return text;
}

TEST(Win32TracePlatform, CreatesFoldersAppendsAndRollsOverKeepingThePreviousFile) {
    TracePlatform& platform = Win32TracePlatformInstance();
    const std::string root = TempFolder("norvik-trace-test");
    const std::string path = root + "\\a\\b\\trace.log";
    std::string error;
    {
        auto file = platform.OpenFile(path, error);
        ASSERT_TRUE(file) << error;
        ASSERT_TRUE(file->Write("one\r\n", 5));
        EXPECT_EQ(file->Size(), 5u);
        ASSERT_TRUE(file->Roll());
        ASSERT_TRUE(file->Write("two\r\n", 5));
    }
    EXPECT_EQ(Contents(path + ".1"), "one\r\n");
    EXPECT_EQ(Contents(path), "two\r\n");
    {
        auto again = platform.OpenFile(path, error);  // appends to what is there
        ASSERT_TRUE(again);
        EXPECT_EQ(again->Size(), 5u);
    }
    ::DeleteFileA((path + ".1").c_str());
    ::DeleteFileA(path.c_str());
    ::RemoveDirectoryA((root + "\\a\\b").c_str());
    ::RemoveDirectoryA((root + "\\a").c_str());
    ::RemoveDirectoryA(root.c_str());
}

TEST(Win32TracePlatform, AReadOnlyFileOrAFileInTheWayOfAFolderIsRefusedWithAReason) {
    TracePlatform& platform = Win32TracePlatformInstance();
    const std::string readOnly = TempFolder("norvik-trace-readonly.log");
    ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = ::CreateFileA(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY,
                                nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    std::string error;
    EXPECT_FALSE(platform.OpenFile(readOnly, error));
    EXPECT_FALSE(error.empty());

    error.clear();
    EXPECT_FALSE(platform.OpenFile(readOnly + "\\below\\trace.log", error));  // a file where a folder should be
    EXPECT_NE(error.find("cannot create the folder"), std::string::npos) << error;
    ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(readOnly.c_str());
}

TEST(Win32TracePlatform, DefaultFolderIsUnderProgramData) {
    char programData[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableA("ProgramData", programData, sizeof programData), 0u);
    EXPECT_EQ(Win32TracePlatformInstance().DefaultFolder(), std::string(programData) + "\\Norvik\\Logs\\");
    EXPECT_EQ(Win32TracePlatformInstance().ExpandPath("%ProgramData%\\x.log"), std::string(programData) + "\\x.log");
}

}  // namespace
}  // namespace norvik
