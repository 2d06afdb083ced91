#include "launcher/client_process.h"

#include "launcher/launch_sequence.h"
#include "launcher/run_failure_report.h"
#include "common/run_failure.h"
#include "test_support/recorded_box.h"

#include "test_support/log_capture.h"
#include "test_support/scratch_folder.h"
#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kStopFileVariable = L"VELMAR_CHILD_STOP_FILE";

bool WaitForFile(const std::wstring& path, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 50) {
        if (FileExists(path)) {
            return true;
        }
        Sleep(50);
    }
    return FileExists(path);
}

std::wstring SystemCommand() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\cmd.exe";
}

class ClientProcess : public testing::Test {
  protected:
    ScratchFolder folder{L"velmar_client"};
    LogCapture log{folder / L"log.txt"};
};

TEST_F(ClientProcess, MissingProgramIsLoggedWithErrorCodeTwo) {
    std::wstring missing = folder / L"bin\\velmar.exe";
    std::wstring command = missing + L" " + (folder / L"properties\\offlineplayback.pbcf");
    EXPECT_EQ(StartClientProcess(command.c_str(), 0), 0);
    std::string narrow(command.begin(), command.end());
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"CreateProcess failed. Command: \"" + narrow +
                                                    "\" Error Code: 2"});
}

// With wait set, the call returns only after the program has done its work,
// and the caller's text is left exactly as it was.
TEST_F(ClientProcess, WaitsForTheProgramAndLeavesTheCommandLineAlone) {
    std::wstring done = folder / L"done.txt";
    std::wstring text = SystemCommand() + L" /c echo done> \"" + done + L"\"";
    std::vector<wchar_t> command(text.begin(), text.end());
    command.push_back(L'\0');
    EXPECT_NE(StartClientProcess(command.data(), 1), 0);
    EXPECT_TRUE(FileExists(done));
    EXPECT_EQ(std::wstring(command.data()), text);
    EXPECT_TRUE(log.Lines().empty());

    std::wstring hiddenDone = folder / L"hidden.txt";
    std::wstring hidden = SystemCommand() + L" /c echo done> \"" + hiddenDone + L"\"";
    EXPECT_NE(LaunchProcess(hidden.c_str(), 1, 1), 0);
    EXPECT_TRUE(FileExists(hiddenDone));
}

// Without wait, the call returns while the program is still running: here a
// copy of this test program that runs until it is told to stop.
TEST_F(ClientProcess, ReturnsAtOnceWithoutWait) {
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring stop = folder / L"stop.txt";
    std::wstring ended = stop + L".ended";
    ASSERT_TRUE(SetEnvironmentVariableW(kStopFileVariable, stop.c_str()));
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --gtest_filter=ClientProcessChild.RunsUntilTold";
    int started = StartClientProcess(command.c_str(), 0);
    SetEnvironmentVariableW(kStopFileVariable, nullptr);
    ASSERT_NE(started, 0);

    EXPECT_FALSE(FileExists(ended));
    ASSERT_TRUE(UniqueFileHandle(
        CreateFileW(stop.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
    EXPECT_TRUE(WaitForFile(ended, 30000));
}

// The child side of the test above; does nothing in an ordinary run.
TEST(ClientProcessChild, RunsUntilTold) {
    wchar_t stop[MAX_PATH] = {};
    if (GetEnvironmentVariableW(kStopFileVariable, stop, MAX_PATH) == 0) {
        GTEST_SKIP() << "only runs when started by ReturnsAtOnceWithoutWait";
    }
    ASSERT_TRUE(WaitForFile(stop, 20000));
    std::wstring ended = std::wstring(stop) + L".ended";
    EXPECT_TRUE(UniqueFileHandle(
        CreateFileW(ended.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
}

// Refusals that Wine never gives, and clients that end at once, through the
// creation and watch seams: each ends the run in its own box and exit code 10;
// a client that ends normally or keeps running is a success.
DWORD creationRefusal = 0;
ClientFirstMoments watchedMoments;

BOOL WINAPI RefusingCreation(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                             DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
    *info = {};
    SetLastError(creationRefusal);
    return creationRefusal == 0;
}
ClientFirstMoments ReportedMoments(HANDLE) {
    return watchedMoments;
}

struct StartCase {
    DWORD refusal;  // 0: the process is created
    bool extracted;
    ClientFirstMoments moments;
    int problem;  // 0: a success, no box
    const char* logged;
};

TEST(ClientStartFailures, EachCauseEndsTheRunInItsOwnBox) {
    const StartCase cases[] = {
        {1260, false, {}, 204, "Run failed: blocked by a policy of this computer: "},
        {4551, false, {}, 204, "(system error 4551); showing problem 204"},
        {225, true, {}, 205, "Run failed: blocked or removed by antivirus: "},
        {2, true, {}, 205, "(system error 2); showing problem 205"},
        {2, false, {}, 206, "(system error 2); showing problem 206"},
        {0, false, {true, 0xC0000135}, 206, "status 0xC0000135: a DLL it needs was not found"},
        {0, false, {true, 0xC0000142}, 206, "(status 0xC0000142); showing problem 206"},
        {0, false, {true, 0}, 0, nullptr},
        {0, false, {true, 1}, 0, nullptr},
        {0, false, {false, 0}, 0, nullptr},
    };
    ScratchFolder folder{L"velmar_start"};
    ClientStart client = ComposeClientStart(folder.path(), true);
    ClientWatchFunction platformWatch = ClientWatch;
    ProcessCreation = RefusingCreation;
    ClientWatch = ReportedMoments;
    for (const StartCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.refusal << " " << std::hex << c.moments.exitCode);
        creationRefusal = c.refusal;
        watchedMoments = c.moments;
        ClearRunFailures();
        BoxRecorder recorder;
        LogCapture log{folder / L"log.txt"};
        bool started = StartWatchedClient(client, c.extracted);
        EXPECT_EQ(started, c.problem == 0);
        if (started) {
            continue;
        }
        EXPECT_EQ(EndFailedRun(0), kProblemExitCode);
        EXPECT_EQ(RecordedBox.count, 1);
        std::wstring ending = L"Problem number: " + std::to_wstring(c.problem);
        EXPECT_EQ(RecordedBox.text.substr(RecordedBox.text.size() - ending.size()), ending);
        EXPECT_NE(RecordedBox.text.find(client.programPath), std::wstring::npos);
        EXPECT_NE(log.Text().find(c.logged), std::string::npos) << log.Text();
    }
    ProcessCreation = CreateProcessW;
    ClientWatch = platformWatch;
    ClearRunFailures();
}

TEST(ClientStartFailures, SizesInTheBoxAreInBinaryUnits) {
    EXPECT_EQ(SizeText(0), L"0 KB");
    EXPECT_EQ(SizeText(1), L"1 KB");
    EXPECT_EQ(SizeText(640 * 1024), L"640 KB");
    EXPECT_EQ(SizeText(4ull << 20), L"4.0 MB");
    EXPECT_EQ(SizeText(3ull << 29), L"1.5 GB");
}

}  // namespace
