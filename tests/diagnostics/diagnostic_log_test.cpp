#include "diagnostics/diagnostic_log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "common/unique_handle.h"
#include "test_support/log_capture.h"
#include "test_support/scratch_folder.h"
#include "test_support/unresolved_volume.h"

namespace {

// Every line of a log, without its timestamp prefix. A line without its
// prefix of 20 characters or its CR LF makes the lengths disagree.
std::vector<std::string> Messages(const std::string& log) {
    std::vector<std::string> messages = LogLines(log);
    size_t length = 0;
    for (const std::string& message : messages) {
        length += 20 + message.size() + 2;
    }
    EXPECT_EQ(length, log.size()) << "a line lacks its prefix or its CR LF";
    return messages;
}

std::wstring TempLogPath() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"launcher_log.txt";
}

}  // namespace

TEST(LogText, PrefixIsMonthDayYearAndTime) {
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 8;
    time.wHour = 4;
    time.wMinute = 17;
    time.wSecond = 51;
    time.wMilliseconds = 999;
    EXPECT_EQ(FormatLogPrefix(time), L"[12/08/26 04:17:51] ");
    time.wYear = 2000;
    EXPECT_EQ(FormatLogPrefix(time), L"[12/08/00 04:17:51] ");
}

TEST(LogText, RotatedNameReplacesTheExtension) {
    EXPECT_EQ(RotatedLogPath(L"C:\\T\\Velmar_Client_Logs\\launcher_log.txt"),
              L"C:\\T\\Velmar_Client_Logs\\launcher_log.old");
}

TEST(LogText, CharactersAbove255BecomeQuestionMarksAndTheLineGoesOn) {
    EXPECT_EQ(NarrowLogText(L"C:\\Temp\\\x5F71\x50CF\\caf\xE9 end\n"),
              "C:\\Temp\\??\\caf\xE9 end\r\n");
}

std::string Formatted(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = FormatLogLine(L"[p] ", format, args);
    va_end(args);
    return line;
}

TEST(LogText, LongMessagesAreCutAndTheCutIsMarked) {
    struct Row {
        size_t length;
        std::string expectedTail;
    };
    const Row rows[] = {
        {1024, "x\r\n"},
        {1025, "x...[cut, 1 characters]\r\n"},
        {5 << 20, "x...[cut, " + std::to_string((5 << 20) - 1024) + " characters]\r\n"}};
    for (const Row& row : rows) {
        std::wstring value(row.length - 20, L'x');  // after "event name = " and its blank
        std::string line = Formatted(L"EAfter event name = %s\n", value.c_str());
        EXPECT_LE(line.size(), 4 + 1024 + 40u) << row.length;
        EXPECT_EQ(line.substr(0, 24), "[p] EAfter event name = ") << row.length;
        EXPECT_EQ(line.substr(line.size() - row.expectedTail.size()), row.expectedTail)
            << row.length;
    }
}

class LogFolder : public ::testing::Test {
  protected:
    ScratchFolder scratch{L"log"};
    std::wstring folder = scratch.path() + L"\\Velmar_Client_Logs";
    std::wstring logPath = folder + L"\\launcher_log.txt";

    void TearDown() override { CloseLauncherLog(); }
};

TEST_F(LogFolder, OpenCreatesTheFolderAndWritesBanners) {
    ASSERT_NE(OpenLauncherLog(folder.c_str()), nullptr);
    EXPECT_TRUE(LogHandle->file.valid());
    LogMessage(LogHandle, L"Created zip file %s\n", L"C:\\Temp\\OffPlay\\rec_1.zip");
    LogMessage(LogHandle, L"ExeFileSize =%d\n", 123456);
    LogMessage(LogHandle, L"path with \x4E2D\x6587 and more %s\n", L"\x4E2D tail");
    LogMessage(LogHandle, L"after\n");
    CloseLauncherLog();
    EXPECT_EQ(LogHandle, nullptr);
    std::vector<std::string> expected = {"*** Launcher Started ***",
                                         "Created zip file C:\\Temp\\OffPlay\\rec_1.zip",
                                         "ExeFileSize =123456",
                                         "path with ?? and more ? tail",
                                         "after",
                                         "*** Launcher Exiting ***"};
    EXPECT_EQ(Messages(ReadFileText(logPath)), expected);
}

TEST_F(LogFolder, EachLineReachesTheFileBeforeLogMessageReturns) {
    OpenLauncherLog(folder.c_str());
    LogMessage(LogHandle, L"Done extracting all files\n");
    EXPECT_EQ(Messages(ReadFileText(logPath)).back(), "Done extracting all files");
}

TEST_F(LogFolder, LogOfExactly512000BytesIsKept) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileText(logPath, std::string(512000, 'a'));
    OpenLauncherLog(folder.c_str());
    CloseLauncherLog();
    EXPECT_FALSE(FileExists(folder + L"\\launcher_log.old"));
    EXPECT_EQ(ReadFileText(logPath).substr(0, 512000), std::string(512000, 'a'));
}

TEST_F(LogFolder, LargerLogIsRotatedReplacingAnOldOne) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileText(logPath, std::string(512001, 'b'));
    WriteFileText(folder + L"\\launcher_log.old", "previous rotation");
    OpenLauncherLog(folder.c_str());
    CloseLauncherLog();
    EXPECT_EQ(ReadFileText(folder + L"\\launcher_log.old"), std::string(512001, 'b'));
    EXPECT_EQ(Messages(ReadFileText(logPath)),
              (std::vector<std::string>{"*** Launcher Started ***", "*** Launcher Exiting ***"}));
}

TEST_F(LogFolder, UnusableFolderFallsBackToTheTemporaryFolder) {
    // A file where the folder should be: neither the folder nor the log can be made.
    WriteFileText(folder, "in the way");
    std::wstring fallback = TempLogPath();
    DeleteFileW(fallback.c_str());
    OpenLauncherLog(folder.c_str());
    LogMessage(LogHandle, L"fallback line\n");
    CloseLauncherLog();
    std::vector<std::string> messages = Messages(ReadFileText(fallback));
    DeleteFileW(fallback.c_str());
    EXPECT_EQ(messages, (std::vector<std::string>{"*** Launcher Started ***", "fallback line",
                                                  "*** Launcher Exiting ***"}));
}

TEST_F(LogFolder, LogThatCannotBeOpenedAnywhereSwallowsEveryLine) {
    WriteFileText(folder, "in the way");
    std::wstring fallback = TempLogPath();
    // Held open without sharing: the fallback cannot be opened either.
    UniqueFileHandle locked(CreateFileW(fallback.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(locked.valid());
    LogFile* log = OpenLauncherLog(folder.c_str());
    ASSERT_NE(log, nullptr);
    EXPECT_FALSE(log->file.valid());
    EXPECT_EQ(LogMessage(log, L"nothing %s\n", L"written"), 0);
    CloseLauncherLog();
    EXPECT_EQ(LogHandle, nullptr);
    locked.reset();
    EXPECT_EQ(ReadFileText(fallback), "");
    DeleteFileW(fallback.c_str());
}

TEST_F(LogFolder, LaunchersAppendingAtOnceKeepEveryLineWhole) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteFileText(logPath, "earlier\r\n");
    LogFile* first = CreateLogFile(logPath.c_str());
    LogFile* second = CreateLogFile(logPath.c_str());
    ASSERT_TRUE(first->file.valid() && second->file.valid());
    for (int i = 0; i < 3; ++i) {
        LogMessage(first, L"first %d\n", i);
        LogMessage(second, L"second %d\n", i);
    }
    EXPECT_TRUE(first->locking && second->locking) << "the append lock was given up";
    delete first;
    delete second;
    std::string log = ReadFileText(logPath);
    EXPECT_EQ(log.substr(0, 9), "earlier\r\n");
    EXPECT_EQ(Messages(log.substr(9)),
              (std::vector<std::string>{"first 0", "second 0", "first 1", "second 1", "first 2",
                                        "second 2"}));
}

TEST_F(LogFolder, LogWithASecondNameIsNotWrittenThrough) {
    // A hard link in place of the log: writing would change the file elsewhere.
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring elsewhere = scratch / L"elsewhere.txt";
    WriteFileText(elsewhere, std::string(512001, 'x'));
    ASSERT_TRUE(CreateHardLinkW(logPath.c_str(), elsewhere.c_str(), nullptr));
    LogFile* log = CreateLogFile(logPath.c_str());
    EXPECT_FALSE(log->file.valid());
    delete log;
    EXPECT_EQ(ReadFileText(elsewhere), std::string(512001, 'x'));
    EXPECT_FALSE(FileExists(folder + L"\\launcher_log.old"));
}

// A RAM disk or a volume without a DOS path as the temporary folder: the log
// is written all the same, and rotated, by the names where nothing else tells.
TEST_F(LogFolder, LogIsWrittenWhereFinalPathsCannotBeHad) {
    CreateDirectoryW(folder.c_str(), nullptr);
    for (bool volumePaths : {true, false}) {
        WriteFileText(logPath, std::string(512001, 'c'));
        UnresolvedVolume volume(volumePaths);
        OpenLauncherLog(folder.c_str());
        LogMessage(LogHandle, L"line %d\n", 1);
        CloseLauncherLog();
        EXPECT_EQ(ReadFileText(folder + L"\\launcher_log.old"), std::string(512001, 'c'));
        EXPECT_EQ(Messages(ReadFileText(logPath)),
                  (std::vector<std::string>{"*** Launcher Started ***", "line 1",
                                            "*** Launcher Exiting ***"}))
            << volumePaths;
    }
}

TEST(LogMessageGuard, NullHandleWritesNothing) {
    EXPECT_EQ(LogMessage(nullptr, L"ignored\n"), 0);
}
