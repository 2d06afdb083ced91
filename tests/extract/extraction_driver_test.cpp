#include "extract/extraction_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "extract/archive_budget.h"
#include "extract/archive_checks.h"
#include "extract/entry_file_closer.h"
#include "extract/extraction_failure.h"
#include "extract/zip_test_support.h"
#include "test_support/log_capture.h"
#include "common/unique_handle.h"
#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/system_paths.h"

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
    WatchForEntries({L"DOCS\\guide.txt", L"sub/deep.txt", L"not_there.txt"});
    EXPECT_TRUE(ExtractArchive(ZipFixture(L"payload.zip").c_str(), work_.c_str()));
    EXPECT_EQ(CurrentDirectory(), work_);
    // Watched names match whatever the case and separators; nested entries count.
    EXPECT_TRUE(WatchedEntryExtracted(L"docs/guide.txt"));
    EXPECT_TRUE(WatchedEntryExtracted(L"sub\\deep.txt"));
    EXPECT_FALSE(WatchedEntryExtracted(L"not_there.txt"));
    WatchForEntries({});

    EXPECT_EQ(ReadFileText(Work(L"readme.txt")), "top readme");
    EXPECT_EQ(ReadFileText(Work(L"docs\\guide.txt")), "guide");
    EXPECT_TRUE(IsFolder(Work(L"data\\maps")));
    EXPECT_EQ(ReadFileText(Work(L"a\\b\\c.dat")), "backslash folders");
    EXPECT_EQ(ReadFileText(Work(L"last.txt")), "last entry");

    // inner.zip is followed at once, into the work folder itself, and stays.
    EXPECT_TRUE(FileExists(Work(L"inner.zip")));
    EXPECT_EQ(ReadFileText(Work(L"inner_file.txt")), "from inner.zip");
    EXPECT_EQ(ReadFileText(Work(L"sub\\deep.txt")), "deep");
    EXPECT_EQ(ReadFileText(Work(L"dup.txt")), "inner");          // written after the outer one
    EXPECT_EQ(ReadFileText(Work(L"desktop.ini")), "inner ini");  // over a read-only one

    // Only names that end in ".zip" or ".cab" are followed, upper case not.
    EXPECT_TRUE(FileExists(Work(L"NESTED.ZIP")));
    EXPECT_FALSE(FileExists(Work(L"upper_marker.txt")));
    EXPECT_TRUE(FileExists(Work(L"notes.zip.txt")));
    EXPECT_FALSE(FileExists(Work(L"notes_marker.txt")));
    EXPECT_TRUE(IsFolder(Work(L"old.zip")));
    EXPECT_FALSE(Logged("Cannot open zip archive"));

    // Nested cabinets go to the cabinet extraction, into the work folder, also
    // when their names hold letters that the ANSI code page lacks.
    EXPECT_TRUE(FileExists(Work(L"inner.cab")));
    EXPECT_EQ(ReadFileText(Work(L"cab_file.txt")), "from the cabinet\n");
    EXPECT_TRUE(FileExists(Work(L"\u03a9mega.cab")));
    EXPECT_EQ(ReadFileText(Work(L"omega_file.txt")), "omega\n");
}

TEST(NestedArchiveKind, OnlyTheLastComponentsEndingCounts) {
    struct Case {
        const wchar_t* name;
        NestedArchiveKind kind;
    } cases[] = {
        {L"inner.zip", NestedArchiveKind::Zip},
        {L"media.cabinet/inner.zip", NestedArchiveKind::Zip},
        {L"a.cab\\b.zip", NestedArchiveKind::Zip},
        {L"x/extra.cab", NestedArchiveKind::Cabinet},
        {L"x.zip/readme.txt", NestedArchiveKind::None},
        {L"notes.zip.txt", NestedArchiveKind::None},
        {L"old.zip/", NestedArchiveKind::None},
        {L"UPPER.ZIP", NestedArchiveKind::None},
        {L".zip", NestedArchiveKind::Zip},
        {L"", NestedArchiveKind::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NestedArchiveKindOf(std::wstring_view(c.name)), c.kind) << c.name;
    }
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
    EXPECT_TRUE(FileExists(Work(L"last.txt")));
}

TEST_F(ExtractionDriverTest, EmptyArchiveCreatesNothing) {
    ExtractArchive(ZipFixture(L"empty.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_EQ(CurrentDirectory(), work_);
    EXPECT_TRUE(log_->Lines().empty() || log_->Lines() == std::vector<std::string>{""});
}

TEST_F(ExtractionDriverTest, CabInAFolderNameLeavesTheArchiveAZipArchive) {
    std::wstring folder = outer() + L"\\x.cab.d";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(
        WriteFileBytes(folder + L"\\payload.zip", ReadFileBytes(ZipFixture(L"payload.zip"))));
    EXPECT_TRUE(ExtractArchive((folder + L"\\payload.zip").c_str(), work_.c_str()));
    EXPECT_EQ(ReadFileText(Work(L"readme.txt")), "top readme");
    EXPECT_EQ(CurrentDirectory(), work_);
}

TEST_F(ExtractionDriverTest, NestingIsFollowedToTheFixedDepth) {
    EXPECT_TRUE(ExtractArchive(ZipFixture(L"chain.zip").c_str(), work_.c_str()));
    for (int level = 0; level <= kMaxArchiveNesting; ++level) {
        EXPECT_TRUE(FileExists(Work(L"marker_" + std::to_wstring(level) + L".txt"))) << level;
    }
    std::wstring next = L"level" + std::to_wstring(kMaxArchiveNesting + 1) + L".zip";
    EXPECT_TRUE(FileExists(Work(next)));  // written, not followed
    EXPECT_FALSE(FileExists(Work(L"marker_" + std::to_wstring(kMaxArchiveNesting + 1) + L".txt")));
    EXPECT_EQ(LogCount("Not following nested archive " + std::string(next.begin(), next.end())),
              1u);
}

// Writing an entry over an archive that is open fails: the walk ends there.
TEST_F(ExtractionDriverTest, ArchivesContainingThemselvesEndInFailure) {
    ASSERT_TRUE(WriteFileBytes(Work(L"selfref.zip"), ReadFileBytes(ZipFixture(L"selfref.zip"))));
    EXPECT_FALSE(ExtractArchive(Work(L"selfref.zip").c_str(), work_.c_str()));
    EXPECT_EQ(LogCount("Cannot extract entry selfref.zip of "), 1u);
    EXPECT_EQ(FolderNames(work_), std::vector<std::wstring>{L"selfref.zip"});

    ASSERT_TRUE(WriteFileBytes(Work(L"loop_a.zip"), ReadFileBytes(ZipFixture(L"loop_a.zip"))));
    EXPECT_FALSE(ExtractArchive(Work(L"loop_a.zip").c_str(), work_.c_str()));
    EXPECT_EQ(LogCount("Cannot extract entry loop_a.zip of "), 1u);
    EXPECT_TRUE(FileExists(Work(L"loop_b.zip")));

    // x.zip holding 64 entries all named x.zip: once grew as 64 to the 8th.
    ExtractArchive(ZipFixture(L"self_named.zip").c_str(), work_.c_str());
    EXPECT_TRUE(FileExists(Work(L"x.zip")));
    EXPECT_FALSE(FileExists(Work(L"leaf.txt")));
    EXPECT_EQ(LogCount("Not following nested archive"), 0u);
    EXPECT_EQ(CurrentDirectory(), work_);
}

// Every archive here holds an entry that cannot be extracted in full: the
// walk stops at it with one line naming it and the reason.
TEST_F(ExtractionDriverTest, DamagedArchivesFailAtTheirFirstBadEntry) {
    struct Case {
        const wchar_t* archive;
        const char* logged;
        const wchar_t* writtenBefore;  // an earlier good entry, or null
    } cases[] = {
        {L"bad_local.zip", "bad_local.zip: its header cannot be read", L"first.txt"},
        {L"bad_extra.zip", "bad_extra.zip: its", L"first.txt"},
        {L"bad_directory.zip", "bad_directory.zip: its header cannot be read", L"first.txt"},
        {L"damaged.zip", "Cannot extract entry bad_crc.txt of ", L"good_first.txt"},
        {L"encrypted.zip", "wrong_password.txt of", L"secret_stored.txt"},
        {L"bzip2_entry.zip", "bzip2_entry.zip: its header cannot be read", L"good.txt"},
        {L"long_name.zip", "Cannot extract entry long_ppp", L"good.txt"},
        {L"no_such.zip", "Cannot open zip archive", nullptr},
    };
    for (const Case& c : cases) {
        std::wstring archive = c.archive;
        EXPECT_FALSE(ExtractArchive(ZipFixture(c.archive).c_str(), work_.c_str()))
            << std::string(archive.begin(), archive.end());
        EXPECT_EQ(LogCount(c.logged), 1u) << c.logged;
        if (c.writtenBefore != nullptr) {
            EXPECT_TRUE(FileExists(Work(c.writtenBefore))) << c.logged;
        }
    }
    EXPECT_EQ(ReadFileText(Work(L"first.txt")), "first");
    EXPECT_FALSE(FileExists(Work(L"last.txt")));  // bad_local.zip stops before it
    EXPECT_TRUE(Escaped().empty());
}

TEST_F(ExtractionDriverTest, DamagedArchivesAreRefusedWithOneLineBeforeAnythingIsWritten) {
    struct Case {
        std::wstring archive;
        const char* line;
        RunFailure noted = RunFailure::None;  // None: the run counts as damaged
    };
    const Case cases[] = {
        {ZipFixture(L"overlapping.zip"), "its entries overlap each other or its directory"},
        {ZipFixture(L"huge_declared.zip"), "bytes, the work folder's drive has",
         RunFailure::DiskFull},
        {FixturePath(L"extract\\cab\\no_folders.cab"), "it declares no folders"},
        {FixturePath(L"extract\\cab\\next_cabinet.cab"), "continues from or into another cabinet"},
        {FixturePath(L"extract\\cab\\damaged_block.cab"), "a compressed data block is damaged"},
    };
    for (const Case& c : cases) {
        ClearRunFailures();
        // The payload itself is always read as a zip archive; cabinets are
        // checked where the walk meets them.
        bool cabinet = c.archive.size() > 4 && c.archive.substr(c.archive.size() - 4) == L".cab";
        EXPECT_FALSE(cabinet ? CabinetMayBeExtracted(c.archive.c_str())
                             : ExtractArchive(c.archive.c_str(), work_.c_str()))
            << c.line;
        EXPECT_EQ(LogCount(c.line), 1u) << c.line;
        EXPECT_TRUE(FolderNames(work_).empty()) << c.line;
        EXPECT_EQ(FirstRunFailure().cause, c.noted) << c.line;
    }
    // A full disk names the work folder's drive, as its box does.
    EXPECT_EQ(FirstRunFailure().subject, L"");
    ClearRunFailures();
    ExtractArchive(ZipFixture(L"huge_declared.zip").c_str(), work_.c_str());
    EXPECT_EQ(FirstRunFailure().subject, VolumeOf(work_));
    EXPECT_GT(DeclaredSpaceOfRun(), 1ull << 32);

    // A file that cannot be created is noted with its path and the system's error.
    ClearRunFailures();
    ASSERT_TRUE(CreateDirectoryW(Work(L"readme.txt").c_str(), nullptr));
    EXPECT_FALSE(ExtractArchive(ZipFixture(L"payload.zip").c_str(), work_.c_str()));
    EXPECT_EQ(FirstRunFailure().cause, RunFailure::DamagedPackage);
    EXPECT_EQ(FirstRunFailure().systemError, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(FirstRunFailure().subject, Work(L"readme.txt"));
    ClearRunFailures();
    // A directory declaring 0xFFFF entries, or 0x7FFFFFFF in its 64-bit record,
    // for two real ones: they are extracted, then one line ends the walk.
    for (const wchar_t* name : {L"declares_more.zip", L"declares_zip64.zip"}) {
        EXPECT_FALSE(ExtractArchive(ZipFixture(name).c_str(), work_.c_str()));
        EXPECT_EQ(ReadFileText(Work(L"two.txt")), "two");
    }
    EXPECT_EQ(LogCount("Cannot extract entry 2 of "), 2u);
}

TEST_F(ExtractionDriverTest, OneRunLogsAndWalksWithinItsShare) {
    ExtractArchive(ZipFixture(L"many_refusals.zip").c_str(), work_.c_str());
    EXPECT_EQ(LogCount("Refusing archive entry outside"), size_t{kMaxExtractionLogLines});
    EXPECT_EQ(LogCount("Further extraction messages of this run are left out"), 1u);
    EXPECT_EQ(ReadFileText(Work(L"last.txt")), "last");  // the walk goes on without logging

    // Each run has its own share: 256 archives, the payload among them.
    EXPECT_FALSE(ExtractArchive(ZipFixture(L"many_nested.zip").c_str(), work_.c_str()));
    EXPECT_TRUE(FileExists(Work(L"f254.txt")));
    EXPECT_FALSE(FileExists(Work(L"f255.txt")));
    EXPECT_EQ(LogCount("this run has walked 256 archives"), 1u);
}

// A close that takes as long as a scan on close, on every file the walk
// writes; the one of a chosen name fails after closing, as a close that could
// not store the file's last bytes does.
struct SlowClose {
    static inline std::atomic<int> closes{0};
    static inline std::atomic<int> offThread{0};
    static inline DWORD walkThread = 0;
    static inline const wchar_t* failing = nullptr;
    static DWORD Close(WrittenFile& file) {
        Sleep(3);
        ++closes;
        offThread += GetCurrentThreadId() != walkThread ? 1 : 0;
        DWORD closed = PlatformCloseWrittenFile(file);
        bool fail = failing != nullptr && file.name == failing;
        return fail ? ERROR_WRITE_FAULT : closed;
    }
};

// The files below folder, each opened without sharing, as a file still open
// for writing cannot be: such a file counts 1000, which no expected count is.
size_t CountClosedFiles(const std::wstring& folder) {
    size_t count = 0;
    for (const std::wstring& name : FolderNames(folder)) {
        std::wstring path = folder + L"\\" + name;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            count += CountClosedFiles(path);
            continue;
        }
        UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        count += file ? 1 : 1000;
    }
    return count;
}

TEST_F(ExtractionDriverTest, EveryFileIsClosedAndAFailedCloseFailsItsEntry) {
    // A failed close is learnt where the walk next waits for the closes
    // (before the next nested archive is read), also when
    // they are made on the walk's own thread (0 threads); the walk ends
    // there. dup.txt and desktop.ini are written twice; the cabinets'
    // members are closed on the walk's thread, past the seam.
    struct Case {
        unsigned threads;
        const wchar_t* failing;
        const char* line;  // how the walk's one failure line starts, and its reason
        const char* reason;
        int closes;
        size_t files;
    } cases[] = {
        {4, nullptr, "", "", 15, 15},
        {4, L"docs/guide.txt", "Cannot extract entry docs/guide.txt of ", "writing its file", 6, 6},
        {0, L"docs/guide.txt", "Cannot extract entry docs/guide.txt of ", "writing its file", 6, 6},
        {4, L"inner_file.txt", "Cannot extract entry inner_file.txt of ", "writing its file", 10,
         8},
    };
    SlowClose::walkThread = GetCurrentThreadId();
    SetWrittenFileClose(SlowClose::Close);
    for (const Case& c : cases) {
        RemoveTreeForTests(work_);
        CreateDirectoryW(work_.c_str(), nullptr);
        SetEntryFileCloserThreads(c.threads);
        SlowClose::closes = 0;
        SlowClose::offThread = 0;
        SlowClose::failing = c.failing;
        size_t linesBefore = log_->Lines().size();
        bool extracted = ExtractArchive(ZipFixture(L"payload.zip").c_str(), work_.c_str());
        std::vector<std::string> lines = log_->Lines();
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(linesBefore));
        std::string failures;
        for (const std::string& line : lines) {
            failures += line.find("Cannot extract") != std::string::npos ? line + "\n" : "";
        }
        // Every file written is closed before the walk returns, also after a
        // failure: each one opens exclusively.
        EXPECT_EQ(CountClosedFiles(work_), c.files);
        EXPECT_EQ(SlowClose::closes, c.closes);
        if (c.failing == nullptr) {
            EXPECT_TRUE(extracted);
            EXPECT_EQ(failures, "");
            EXPECT_EQ(ReadFileText(Work(L"omega_file.txt")), "omega\n");
        } else {
            EXPECT_FALSE(extracted) << c.line;
            EXPECT_EQ(failures.rfind(c.line, 0), 0u) << failures;
            EXPECT_NE(failures.find(c.reason), std::string::npos) << failures;
            EXPECT_EQ(std::count(failures.begin(), failures.end(), '\n'), 1) << failures;
        }
        // The first three closes, slow, are made on the walk's thread and send
        // the others to the pool.
        EXPECT_EQ(SlowClose::offThread, c.threads == 0 ? 0 : SlowClose::closes.load() - 3);
    }
    SetWrittenFileClose(nullptr);
    SetEntryFileCloserThreads(4);
}

TEST_F(ExtractionDriverTest, MissingDestinationFailsAndWritesNothing) {
    std::wstring missing = Work(L"missing");
    EXPECT_FALSE(ExtractArchive(ZipFixture(L"payload.zip").c_str(), missing.c_str()));
    EXPECT_TRUE(Logged("Cannot enter the folder"));
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_TRUE(Escaped().empty());
}

}  // namespace
