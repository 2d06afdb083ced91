#include "launcher/client_process.h"

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

}  // namespace
