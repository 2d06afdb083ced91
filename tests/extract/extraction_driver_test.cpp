#include "extract/extraction_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "extract/archive_budget.h"
#include "extract/zip_test_support.h"
#include "test_support/log_capture.h"
#include "launcher/process_state.h"

namespace {

class ExtractionDriverTest : public ExtractionFolder {
  protected:
    void SetUp() override {
        ExtractionFolder::SetUp();
        logFolder_ = std::make_unique<ScratchFolder>(L"zip-log");
        log_ = std::make_unique<LogCapture>(logFolder_->path() + L"\\log.txt");
        std::wcsncpy(WorkFolder, work_.c_str(), kPathCapacity - 1);
    }
    void TearDown() override {
        WorkFolder[0] = L'\0';
        log_.reset();
        logFolder_.reset();
        ExtractionFolder::TearDown();
    }

    bool Logged(const std::string& part) const {
        for (const std::string& line : log_->Lines()) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    size_t LogCount(const std::string& part) const {
        size_t count = 0;
        for (const std::string& line : log_->Lines()) {
            count += line.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    std::wstring CurrentDirectory() const {
        wchar_t current[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        return current;
    }
    bool IsFolder(const std::wstring& path) const {
        DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    std::unique_ptr<ScratchFolder> logFolder_;
    std::unique_ptr<LogCapture> log_;
};

TEST_F(ExtractionDriverTest, PayloadWithFoldersAndNestedArchives) {
    SetCurrentDirectoryW(outer().c_str());
    ExtractArchive(ZipFixture(L"payload.zip").c_str(), work_.c_str());
    EXPECT_EQ(CurrentDirectory(), work_);

    EXPECT_EQ(ReadText(Work(L"readme.txt")), "top readme");
    EXPECT_EQ(ReadText(Work(L"docs\\guide.txt")), "guide");
    EXPECT_TRUE(IsFolder(Work(L"data\\maps")));
    EXPECT_EQ(ReadText(Work(L"a\\b\\c.dat")), "backslash folders");
    EXPECT_EQ(ReadText(Work(L"last.txt")), "last entry");

    // inner.zip is followed at once, into the work folder itself, and stays.
    EXPECT_TRUE(FileExists(Work(L"inner.zip")));
    EXPECT_EQ(ReadText(Work(L"inner_file.txt")), "from inner.zip");
    EXPECT_EQ(ReadText(Work(L"sub\\deep.txt")), "deep");
    EXPECT_EQ(ReadText(Work(L"dup.txt")), "inner");  // written after the outer one

    // Upper-case extensions are written, not followed; ".zip" anywhere is followed.
    EXPECT_TRUE(FileExists(Work(L"NESTED.ZIP")));
    EXPECT_FALSE(FileExists(Work(L"upper_marker.txt")));
    EXPECT_TRUE(FileExists(Work(L"notes.zip.txt")));
    EXPECT_EQ(ReadText(Work(L"notes_marker.txt")), "notes");
    EXPECT_TRUE(IsFolder(Work(L"old.zip")));
    EXPECT_TRUE(Logged("Cannot open zip archive " + std::string(work_.begin(), work_.end()) +
                       "\\old.zip/"));

    // The nested cabinet goes to the cabinet extraction, into the work folder.
    EXPECT_TRUE(FileExists(Work(L"inner.cab")));
    EXPECT_EQ(ReadText(Work(L"cab_file.txt")), "from the cabinet\n");
    // A cabinet whose name the ANSI code page cannot hold is written, not handed on.
    EXPECT_TRUE(FileExists(Work(L"\u03a9mega.cab")));
    EXPECT_FALSE(FileExists(Work(L"omega_file.txt")));
    EXPECT_TRUE(Logged("Refusing cabinet whose path does not fit the ANSI code page"));
}

TEST_F(ExtractionDriverTest, HostileNamesAreRefusedLoggedAndNotFollowed) {
    ExtractArchive(ZipFixture(L"payload.zip").c_str(), work_.c_str());
    for (const char* name : {"../escape.zip", "sub/../../escape2.txt", "C:evil.txt", "/rooted.txt",
                             "\\\\srv\\share\\unc.txt"}) {
        EXPECT_EQ(LogCount(std::string("Refusing archive entry outside the work folder: ") + name),
                  1u)
            << name;
    }
    EXPECT_TRUE(Escaped().empty());
    EXPECT_FALSE(FileExists(Work(L"escaped_marker.txt")));
    EXPECT_FALSE(FileExists(L"C:\\rooted.txt"));
    EXPECT_FALSE(FileExists(Work(L"evil.txt")));
    // Too long for the work folder: refused before anything is formed from it.
    EXPECT_TRUE(Logged("Refusing archive entry whose path is too long: long_ppp"));
    EXPECT_TRUE(FileExists(Work(L"last.txt")));
}

TEST_F(ExtractionDriverTest, EmptyArchiveCreatesNothing) {
    ExtractArchive(ZipFixture(L"empty.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_EQ(CurrentDirectory(), work_);
    EXPECT_TRUE(log_->Lines().empty() || log_->Lines() == std::vector<std::string>{""});
}

TEST_F(ExtractionDriverTest, CabInAFolderNameTakesTheCabinetBranch) {
    std::wstring folder = outer() + L"\\x.cab.d";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(
        WriteFileBytes(folder + L"\\payload.zip", ReadFileBytes(ZipFixture(L"payload.zip"))));
    ExtractArchive((folder + L"\\payload.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_EQ(CurrentDirectory(), work_);
}

TEST_F(ExtractionDriverTest, NestingIsFollowedToTheFixedDepth) {
    ExtractArchive(ZipFixture(L"chain.zip").c_str(), work_.c_str());
    for (int level = 0; level <= kMaxArchiveNesting; ++level) {
        EXPECT_TRUE(FileExists(Work(L"marker_" + std::to_wstring(level) + L".txt"))) << level;
    }
    std::wstring next = L"level" + std::to_wstring(kMaxArchiveNesting + 1) + L".zip";
    EXPECT_TRUE(FileExists(Work(next)));  // written, not followed
    EXPECT_FALSE(FileExists(Work(L"marker_" + std::to_wstring(kMaxArchiveNesting + 1) + L".txt")));
    EXPECT_EQ(LogCount("Not following nested archive " + std::string(next.begin(), next.end())),
              1u);
}

TEST_F(ExtractionDriverTest, ArchivesContainingThemselvesAreNeverFollowed) {
    // An entry named like the archive being read cannot be written over it:
    // only archives written whole are followed, so none of these goes deeper.
    ASSERT_TRUE(WriteFileBytes(Work(L"selfref.zip"), ReadFileBytes(ZipFixture(L"selfref.zip"))));
    ExtractArchive(Work(L"selfref.zip").c_str(), work_.c_str());
    EXPECT_EQ(FolderNames(work_), std::vector<std::wstring>{L"selfref.zip"});

    ASSERT_TRUE(WriteFileBytes(Work(L"loop_a.zip"), ReadFileBytes(ZipFixture(L"loop_a.zip"))));
    ExtractArchive(Work(L"loop_a.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FileExists(Work(L"loop_b.zip")));

    // x.zip holding 64 entries all named x.zip: once grew as 64 to the 8th.
    ExtractArchive(ZipFixture(L"self_named.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FileExists(Work(L"x.zip")));
    EXPECT_FALSE(FileExists(Work(L"leaf.txt")));
    EXPECT_EQ(LogCount("Not following nested archive"), 0u);
    EXPECT_EQ(CurrentDirectory(), work_);
}

TEST_F(ExtractionDriverTest, DamagedArchivesAreRefusedWithOneLineBeforeAnythingIsWritten) {
    struct Case {
        std::wstring archive;
        const char* line;
    };
    const Case cases[] = {
        {ZipFixture(L"overlapping.zip"), "its entries overlap each other or its directory"},
        {ZipFixture(L"huge_declared.zip"), "bytes, the work folder's drive has"},
        {FixturePath(L"extract\\cab\\no_folders.cab"), "it declares no folders"},
        {FixturePath(L"extract\\cab\\next_cabinet.cab"), "continues from or into another cabinet"},
        {FixturePath(L"extract\\cab\\damaged_block.cab"), "a compressed data block is damaged"},
    };
    for (const Case& c : cases) {
        ExtractArchive(c.archive.c_str(), work_.c_str());
        EXPECT_EQ(LogCount(c.line), 1u) << c.line;
        EXPECT_TRUE(FolderNames(work_).empty()) << c.line;
    }
    // A directory declaring 0xFFFF entries, or 0x7FFFFFFF in its 64-bit record,
    // for two real ones: they are extracted, then one line ends the walk.
    for (const wchar_t* name : {L"declares_more.zip", L"declares_zip64.zip"}) {
        ExtractArchive(ZipFixture(name).c_str(), work_.c_str());
        EXPECT_EQ(ReadText(Work(L"two.txt")), "two");
    }
    EXPECT_EQ(LogCount("its directory cannot be read further"), 2u);
    EXPECT_EQ(LogCount("Skipping entry"), 0u);
}

TEST_F(ExtractionDriverTest, OneRunLogsAndWalksWithinItsShare) {
    ExtractArchive(ZipFixture(L"many_refusals.zip").c_str(), work_.c_str());
    EXPECT_EQ(LogCount("Refusing archive entry outside"), size_t{kMaxExtractionLogLines});
    EXPECT_EQ(LogCount("Further extraction messages of this run are left out"), 1u);
    EXPECT_EQ(ReadText(Work(L"last.txt")), "last");  // the walk goes on without logging

    // Each run has its own share: 256 archives, the payload among them.
    ExtractArchive(ZipFixture(L"many_nested.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FileExists(Work(L"f254.txt")));
    EXPECT_FALSE(FileExists(Work(L"f255.txt")));
    EXPECT_EQ(LogCount("this run has walked 256 archives"), 45u);
}

TEST_F(ExtractionDriverTest, UnreadableEntriesAreSkippedWithoutReusingTheLastRecord) {
    ExtractArchive(ZipFixture(L"bad_local.zip").c_str(), work_.c_str());
    std::vector<std::wstring> names = FolderNames(work_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"first.txt", L"last.txt"}));
    EXPECT_EQ(ReadText(Work(L"first.txt")), "first");
    EXPECT_EQ(LogCount("Skipping entry 1 of "), 1u);
    EXPECT_EQ(LogCount("Skipping entry 2 of "), 1u);
    EXPECT_FALSE(Logged("Cannot open zip archive"));  // mismatch.zip is not followed

    ExtractArchive(ZipFixture(L"bad_extra.zip").c_str(), work_.c_str());
    EXPECT_FALSE(FileExists(Work(L"unreadable_extra.txt")));
    ExtractArchive(ZipFixture(L"bad_directory.zip").c_str(), work_.c_str());
    // Past an unreadable directory record nothing more can be reached: one line.
    EXPECT_EQ(LogCount("bad_directory.zip: its directory cannot be read further"), 1u);
    EXPECT_FALSE(FileExists(Work(L"third.txt")));
}

TEST_F(ExtractionDriverTest, UnopenableArchiveOrDestinationWritesNothing) {
    ExtractArchive(ZipFixture(L"no_such.zip").c_str(), work_.c_str());
    EXPECT_TRUE(Logged("Cannot open zip archive"));
    EXPECT_EQ(CurrentDirectory(), work_);

    std::wstring missing = Work(L"missing");
    ExtractArchive(ZipFixture(L"payload.zip").c_str(), missing.c_str());
    EXPECT_TRUE(Logged("Cannot enter the folder"));
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_TRUE(Escaped().empty());
}

}  // namespace
