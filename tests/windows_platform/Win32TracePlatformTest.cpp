// The trace's Win32 files: folders made on the way, a file that cannot be
// used is refused with a reason, rolling over keeps the previous file, two
// writers never share a file, UNC paths work and links are never followed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

void RemoveTree(const std::string& root, const std::vector<std::string>& files, const std::vector<std::string>& folders) {
    for (const std::string& file : files) ::DeleteFileA((root + file).c_str());
    for (const std::string& folder : folders) ::RemoveDirectoryA((root + folder).c_str());
    ::RemoveDirectoryA(root.c_str());
}

// Another writer of the same file (another process, or another instance
// here) gets a file of its own beside it: neither rolls the other's over.
TEST(Win32TracePlatform, TwoWritersOfOneFileNeitherShareNorRollOverEachOthers) {
    TracePlatform& platform = Win32TracePlatformInstance();
    const std::string root = TempFolder("norvik-trace-two");
    const std::string path = root + "\\Norvik_MSR-1.log";
    const std::string own = root + "\\Norvik_MSR-1." + std::to_string(::GetCurrentProcessId()) + ".log";
    std::string error;
    {
        auto first = platform.OpenFile(path, error);
        auto second = platform.OpenFile(path, error);
        ASSERT_TRUE(first && second) << error;
        ASSERT_TRUE(first->Write("a1\r\n", 4));
        ASSERT_TRUE(second->Write("b1\r\n", 4));
        ASSERT_TRUE(second->Roll());
        ASSERT_TRUE(first->Write("a2\r\n", 4));
        ASSERT_TRUE(second->Write("b2\r\n", 4));
    }
    EXPECT_EQ(Contents(path), "a1\r\na2\r\n");
    EXPECT_EQ(Contents(path + ".1"), "(missing)");
    EXPECT_EQ(Contents(own + ".1"), "b1\r\n");
    EXPECT_EQ(Contents(own), "b2\r\n");
    RemoveTree(root, {"\\Norvik_MSR-1.log", "\\Norvik_MSR-1." + std::to_string(::GetCurrentProcessId()) + ".log",
                      "\\Norvik_MSR-1." + std::to_string(::GetCurrentProcessId()) + ".log.1"},
               {});
}

// \\server\share\...: the share is where folders begin. Under Wine a share
// is a folder below the prefix's dosdevices\unc.
TEST(Win32TracePlatform, AUncPathCreatesItsFoldersBelowTheShare) {
    char prefix[MAX_PATH] = {};
    std::string share = "\\\\localhost\\C$\\Windows\\Temp\\norvik-unc";
    if (::GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix) > 0) {
        const std::string unc = std::string("Z:") + prefix + "\\dosdevices\\unc";
        for (const std::string& folder : {unc, unc + "\\localhost", unc + "\\localhost\\norvik-share"}) {
            ::CreateDirectoryA(folder.c_str(), nullptr);
        }
        share = "\\\\localhost\\norvik-share";
    }
    std::string error;
    auto file = Win32TracePlatformInstance().OpenFile(share + "\\Logs\\unc.log", error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->Write("unc\r\n", 5));
    file.reset();
    EXPECT_EQ(Contents(share + "\\Logs\\unc.log"), "unc\r\n");
    ::DeleteFileA((share + "\\Logs\\unc.log").c_str());
    ::RemoveDirectoryA((share + "\\Logs").c_str());
}

// A file that is a hard link to another file, or a folder that is a link, is
// refused: the trace would otherwise write wherever it points.
TEST(Win32TracePlatform, NeverWritesThroughALink) {
    TracePlatform& platform = Win32TracePlatformInstance();
    const std::string root = TempFolder("norvik-trace-links");
    ::CreateDirectoryA(root.c_str(), nullptr);
    const std::string target = root + "\\elsewhere.txt";
    HANDLE file = ::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    ASSERT_TRUE(::CreateHardLinkA((root + "\\linked.log").c_str(), target.c_str(), nullptr));
    std::string error;
    EXPECT_FALSE(platform.OpenFile(root + "\\linked.log", error));
    EXPECT_NE(error.find("link"), std::string::npos) << error;
    EXPECT_EQ(Contents(target), "");

    ::CreateDirectoryA((root + "\\real").c_str(), nullptr);
    // Wine 8 makes a folder link a Unix symbolic link that no Win32 call
    // tells from a folder: that part needs a system that marks its links.
    const DWORD linkError = ::CreateSymbolicLinkA((root + "\\Logs").c_str(), (root + "\\real").c_str(),
                                                  SYMBOLIC_LINK_FLAG_DIRECTORY) ? ERROR_SUCCESS : ::GetLastError();
    const DWORD attributes = ::GetFileAttributesA((root + "\\Logs").c_str());
    const bool folderLink = linkError == ERROR_SUCCESS && attributes != INVALID_FILE_ATTRIBUTES &&
                            (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (folderLink) {
        error.clear();
        EXPECT_FALSE(platform.OpenFile(root + "\\Logs\\trace.log", error));
        EXPECT_NE(error.find("link"), std::string::npos) << error;
        EXPECT_EQ(Contents(root + "\\real\\trace.log"), "(missing)");
    }
    RemoveTree(root, {"\\linked.log", "\\elsewhere.txt", "\\real\\trace.log"}, {"\\Logs", "\\real"});
    if (!folderLink) {
        GTEST_SKIP() << "the folder link part: this system makes no link that it marks as one (error " << linkError
                     << ", attributes 0x" << std::hex << attributes << "); the hard link was checked";
    }
}

}  // namespace
}  // namespace norvik
