#include "config/config_update.h"

#include "test_support/log_capture.h"
#include "diagnostics/message_catalogue.h"
#include "diagnostics/problem_report.h"
#include "common/process_state.h"
#include "test_support/recorded_box.h"
#include "test_support/retry_pauses.h"
#include "test_support/scratch_folder.h"
#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace {

// --- Text logic ------------------------------------------------------------

TEST(ConfigText, BytesThatAreNotUtf8KeepEveryByteButTheTokens) {
    ConfigTokenList tokens =
        ConfigTokens(L"file://C:/W", L"AT", L"Pr\x00E4sentation %locl%", L"de");
    // Latin-1 text: "\xE9" and "\xFF" stay single bytes; values go in as UTF-8, and
    // a token inside an earlier value is replaced by the later step, as in text.
    EXPECT_EQ(SubstituteInBytes("caf\xE9 %local% %locc%\r\n%eventname%|%LOCL%\xFF", tokens),
              "caf\xE9 file://C:/W AT\r\nPr\xC3\xA4sentation de|%LOCL%\xFF");
    EXPECT_EQ(SubstituteInBytes("", tokens), "");
}

TEST(ConfigText, Utf8DecodingStopsAtZeroAndFlagsMalformedBytes) {
    bool valid = false;
    EXPECT_EQ(DecodeUtf8("\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F", &valid), L"\xFEFFgrüß");
    EXPECT_TRUE(valid);
    EXPECT_EQ(DecodeUtf8(std::string("ab\0cd", 5), &valid), L"ab");
    EXPECT_TRUE(valid);
    EXPECT_EQ(DecodeUtf8("a\xFF"
                         "b",
                         &valid),
              L"a\xFFFD"
              L"b");
    EXPECT_FALSE(valid);
    EXPECT_EQ(EncodeUtf8(L"\xFEFFgrüß \xD83D\xDE00"),
              "\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
}

// --- The file update -------------------------------------------------------

std::vector<int> exitCodes;
void RecordExit(int code) {
    exitCodes.push_back(code);
}

class UpdatePbcf : public testing::Test {
  protected:
    void SetUp() override {
        wmemcpy(savedFolder, WorkFolder, kPathCapacity);
        SetWorkFolder(folder.path());
        LocaleCodes = {L"en", L"US"};
        exitCodes.clear();
        ConfigUpdateExit = RecordExit;
    }
    void TearDown() override {
        wmemcpy(WorkFolder, savedFolder, kPathCapacity);
        LocaleCodes = {};
        for (const std::wstring& path : readOnly) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    }

    void SetWorkFolder(const std::wstring& path) {
        ASSERT_LT(path.size(), kPathCapacity);
        wmemset(WorkFolder, 0, kPathCapacity);
        wmemcpy(WorkFolder, path.c_str(), path.size());
        CreateDirectoryW(path.c_str(), nullptr);
        CreateDirectoryW((path + L"\\properties").c_str(), nullptr);
    }
    std::wstring Config(const wchar_t* extension = L"pbcf") const {
        return std::wstring(WorkFolder) + L"\\properties\\offlineplayback." + extension;
    }
    std::wstring EventFile() const { return std::wstring(WorkFolder) + L"\\eventname.prop"; }
    // The work folder as it appears in the local folder URL, in UTF-8.
    std::string SlashedFolder() const {
        std::unique_ptr<wchar_t[]> slashed(ToForwardSlashes(WorkFolder));
        return EncodeUtf8(slashed.get());
    }
    void MakeReadOnly(const std::wstring& path) {
        readOnly.push_back(path);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    // The log lines that mention something other than the substitution trace.
    std::vector<std::string> OwnLines() const {
        std::vector<std::string> own;
        for (const std::string& line : log.Lines()) {
            if (line.rfind("In substituteParam", 0) != 0 && line.rfind("   strlen", 0) != 0 &&
                line.find("cleaning up substituteParam") == std::string::npos &&
                line.rfind("Cleaning up substituteParam", 0) != 0) {
                own.push_back(line);
            }
        }
        return own;
    }

    BoxRecorder recorder;
    ScratchFolder folder{L"velmar_cfg"};
    LogCapture log{folder / L"log.txt"};
    wchar_t savedFolder[kPathCapacity];
    std::vector<std::wstring> readOnly;
};

TEST_F(UpdatePbcf, ReplacesAllFourTokensAndTracesEachCall) {
    ASSERT_TRUE(WriteFileText(EventFile(), "eventname=Spring Review\n"));
    ASSERT_TRUE(WriteFileText(
        Config(), "url=%local%\ncountry=%locc%\nevent=%eventname%\nlang=%locl%\n%other%\n"));
    UpdatePBCF(Config().c_str(), true);

    EXPECT_EQ(ReadFileText(Config()), "url=file://" + SlashedFolder() +
                                          "\ncountry=US\nevent=Spring Review\nlang=en\n%other%\n");
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[0], "EAfter reading eventname file, event name = Spring Review");
    EXPECT_EQ(lines[1],
              "In substituteParam, substi = %local%, paramValue = file://" + SlashedFolder());
    EXPECT_EQ(lines[5], "In substituteParam, substi = %locc%, paramValue = US");
    EXPECT_EQ(lines[9], "In substituteParam, substi = %eventname%, paramValue = Spring Review");
    EXPECT_EQ(lines[13], "In substituteParam, substi = %locl%, paramValue = en");
    EXPECT_EQ(lines[16], "After cleaning up substituteParam");
    EXPECT_EQ(lines[17], "Leaving UpdatePBCF");
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_EQ(RecordedBox.count, 0);
}

TEST_F(UpdatePbcf, PbrdFileGetsThreeSlashUrl) {
    ASSERT_TRUE(WriteFileText(Config(L"pbrd"), "%local%"));
    UpdatePBCF(Config(L"pbrd").c_str(), false);
    EXPECT_EQ(ReadFileText(Config(L"pbrd")), "file:///" + SlashedFolder());
}

// A later token is also found in values inserted before it; earlier ones are not.
TEST_F(UpdatePbcf, TokensInsideTheEventNameFollowTheReplacementOrder) {
    ASSERT_TRUE(WriteFileText(EventFile(), "k=%locl%|%locc%|%local%\n"));
    ASSERT_TRUE(WriteFileText(Config(), "[%eventname%]"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "[en|%locc%|%local%]");
}

TEST_F(UpdatePbcf, ByteOrderMarkAndNonAsciiSurvive) {
    SetWorkFolder(folder / L"Größe Ordner");
    ASSERT_TRUE(WriteFileText(EventFile(), "k=Frühling\r\n"));
    ASSERT_TRUE(WriteFileText(Config(), "\xEF\xBB\xBF<e>%eventname%</e><u>%local%</u>"));
    UpdatePBCF(Config().c_str(), true);
    std::string expected =
        "\xEF\xBB\xBF<e>Fr\xC3\xBChling</e><u>file://" + SlashedFolder() + "</u>";
    EXPECT_EQ(ReadFileText(Config()), expected);
    EXPECT_NE(SlashedFolder().find("Gr\xC3\xB6\xC3\x9F"
                                   "e Ordner"),
              std::string::npos);
}

TEST_F(UpdatePbcf, ShorterTextLeavesNoOldBytesBehind) {
    ASSERT_TRUE(WriteFileText(Config(), "a=%eventname%;b=%eventname%;c=%locc%\n"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "a=;b=;c=US\n");
}

// The working text grows past twice the file's length when the values need it.
TEST_F(UpdatePbcf, LongValuesAreWrittenInFull) {
    std::wstring deep = folder.path();
    while (deep.size() < 200) {
        deep += L"\\nested_folder";
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    SetWorkFolder(deep);
    std::string longName(3000, 'n');
    ASSERT_TRUE(WriteFileText(EventFile(), "k=" + longName + "\n"));
    ASSERT_TRUE(WriteFileText(Config(), "%local%%eventname%%local%"));
    UpdatePBCF(Config().c_str(), true);
    std::string url = "file://" + SlashedFolder();
    EXPECT_EQ(ReadFileText(Config()), url + longName + url);
    std::vector<std::string> lines = log.Lines();
    int expectedLength = static_cast<int>(2 * url.size() + longName.size());
    EXPECT_EQ(lines[lines.size() - 4],
              "   strlen = " + std::to_string(expectedLength) +
                  ", newBufferLength = " + std::to_string(expectedLength + 1));
}

TEST_F(UpdatePbcf, EventNameKeepsInnerLineEndsButNoFinalCarriageReturn) {
    ASSERT_TRUE(WriteFileText(EventFile(), "k=X\r\nother=Y\r\n"));
    ASSERT_TRUE(WriteFileText(Config(), "<%eventname%>"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "<X\r\nother=Y>");

    ASSERT_TRUE(WriteFileText(EventFile(), "k=Spring"));
    ASSERT_TRUE(WriteFileText(Config(), "<%eventname%>"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "<Spring>");
}

TEST_F(UpdatePbcf, MissingOrEmptyEventNameFileRemovesTheTokenSilently) {
    ASSERT_TRUE(WriteFileText(Config(), "<%eventname%>"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "<>");
    ASSERT_TRUE(WriteFileText(EventFile(), ""));
    ASSERT_TRUE(WriteFileText(Config(), "<%eventname%>"));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "<>");
    EXPECT_EQ(OwnLines(), (std::vector<std::string>{"Leaving UpdatePBCF", "Leaving UpdatePBCF"}));
}

TEST_F(UpdatePbcf, MissingOrEmptyConfigurationIsSkippedWithoutAWord) {
    UpdatePBCF(Config().c_str(), true);
    EXPECT_FALSE(FileExists(Config()));
    ASSERT_TRUE(WriteFileText(Config(), ""));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "");
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(exitCodes.empty());
}

TEST_F(UpdatePbcf, TextWithoutTokensKeepsItsBytes) {
    std::string content = "\xEF\xBB\xBF<config a=\"%x%\">\r\n  \xE2\x82\xAC 100%\r\n</config>\r\n";
    ASSERT_TRUE(WriteFileText(Config(), content));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), content);
    EXPECT_EQ(log.Lines().size(), 17u);
}

TEST_F(UpdatePbcf, Latin1FileKeepsEveryByteButItsTokens) {
    std::string content = "title=Caf\xE9 %locl%\r\n\xA9 2026\r\n";
    ASSERT_TRUE(WriteFileText(Config(), content));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), "title=Caf\xE9 en\r\n\xA9 2026\r\n");
}

// Decoding stops at a zero byte; what follows it is carried through, not lost.
TEST_F(UpdatePbcf, BytesBehindAZeroByteAreKept) {
    ASSERT_TRUE(WriteFileText(Config(), std::string("v=%locl%\0tail %locl%", 20)));
    UpdatePBCF(Config().c_str(), true);
    EXPECT_EQ(ReadFileText(Config()), std::string("v=en\0tail %locl%", 16));
}

class UnreadableFile : public UpdatePbcf {
  protected:
    void SetUp() override {
        UpdatePbcf::SetUp();
        // The run's own folder goes with the failure; the log lies beside it.
        SetWorkFolder(folder / L"rec_1");
        // A catalogue text for problem 201 makes its insert, the path, visible.
        MessageCatalogue[L"10002"] = L"Unreadable: %1";
    }
    void TearDown() override {
        MessageCatalogue.erase(L"10002");
        UpdatePbcf::TearDown();
    }
};

TEST_F(UnreadableFile, ReadOnlyConfigurationEndsTheRunWithProblem201) {
    std::string content = "lang=%locl%";
    ASSERT_TRUE(WriteFileText(Config(), content));
    MakeReadOnly(Config());
    UpdatePBCF(Config().c_str(), true);

    EXPECT_EQ(RecordedBox.count, 1);
    EXPECT_EQ(RecordedBox.text, L"Unreadable: " + Config());
    EXPECT_EQ(RecordedBox.caption, L"VelmarOne");
    EXPECT_EQ(exitCodes, std::vector<int>{10});
    EXPECT_EQ(LogHandle, nullptr);
    std::string path = EncodeUtf8(Config());
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"Error opening/reading properties file " + path,
                                        "*** Launcher Exiting ***"}));
    EXPECT_FALSE(FileExists(WorkFolder));
}

// The event name file is read first, so it fails even without a configuration file.
TEST_F(UnreadableFile, ReadOnlyEventNameFileFailsBeforeTheConfiguration) {
    ASSERT_TRUE(WriteFileText(EventFile(), "k=v\n"));
    MakeReadOnly(EventFile());
    UpdatePBCF(Config().c_str(), true);

    EXPECT_EQ(RecordedBox.text, L"Unreadable: " + EventFile());
    EXPECT_EQ(exitCodes, std::vector<int>{10});
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "Error opening/reading eventname file " + EncodeUtf8(EventFile()),
                               "*** Launcher Exiting ***"}));
    EXPECT_FALSE(FileExists(WorkFolder));
}

// A scanner that has just opened the extracted file (reading, sharing reading
// only) is waited for; one that keeps it is given up on with one log line.
TEST_F(UnreadableFile, FileHeldForAMomentIsWaitedForAndOneHeldOnIsGivenUp) {
    for (bool letGo : {true, false}) {
        ASSERT_TRUE(WriteFileText(Config(), "lang=%locl%"));
        UniqueFileHandle scanner(CreateFileW(Config().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(scanner.valid());
        RecordedPauses pauses([&] {
            if (letGo) {
                scanner.reset();
            }
        });
        LocaleCodes = {L"de", L"AT"};
        size_t before = log.Lines().size();
        UpdatePBCF(Config().c_str(), true);
        scanner.reset();
        std::string path = EncodeUtf8(Config());
        if (letGo) {
            EXPECT_EQ(pauses.pauses(), std::vector<DWORD>{kFirstRetryPauseMs});
            EXPECT_EQ(ReadFileText(Config()), "lang=de");
            EXPECT_EQ(RecordedBox.count, 0);
            EXPECT_FALSE(log.Contains("Gave up"));
            continue;
        }
        EXPECT_GE(pauses.total(), kCallRetryLimitMs);
        EXPECT_EQ(exitCodes, std::vector<int>{10});
        std::vector<std::string> lines = log.Lines();
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0],
                  "Gave up trying to open " + path + " after 500 ms of retries (error 32)");
        EXPECT_EQ(lines[1], "Error opening/reading properties file " + path);
        EXPECT_EQ(lines.back(), "*** Launcher Exiting ***");
    }
}

// The real exit: a copy of this test program runs the update on a read-only
// file and must end with code 10 after closing its log.
constexpr const wchar_t* kChildFolderVariable = L"VELMAR_CONFIG_CHILD_FOLDER";

TEST_F(UpdatePbcf, UnreadableFileEndsTheProcessWithCodeTen) {
    ASSERT_TRUE(WriteFileText(Config(), "x"));
    MakeReadOnly(Config());
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=ConfigChild.*";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(SetEnvironmentVariableW(kChildFolderVariable, WorkFolder));
    BOOL created = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info);
    SetEnvironmentVariableW(kChildFolderVariable, nullptr);
    ASSERT_TRUE(created);
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 10u);
    std::string log = ReadFileText(folder / L"child_log.txt");
    EXPECT_NE(log.find("Error opening/reading properties file"), std::string::npos) << log;
    EXPECT_NE(log.find("*** Launcher Exiting ***"), std::string::npos) << log;
}

// The child side of the test above; does nothing in an ordinary run.
TEST(ConfigChild, UpdateOnReadOnlyFile) {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(kChildFolderVariable, folder, MAX_PATH) == 0) {
        GTEST_SKIP() << "only runs when started by UnreadableFileEndsTheProcessWithCodeTen";
    }
    wmemcpy(WorkFolder, folder, kPathCapacity);
    BoxRecorder recorder;
    LogHandle = CreateLogFile((std::wstring(folder) + L"\\child_log.txt").c_str());
    UpdatePBCF((std::wstring(folder) + L"\\properties\\offlineplayback.pbcf").c_str(), true);
    ADD_FAILURE() << "UpdatePBCF returned";
}

}  // namespace
