#include "package/archive_copy.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "test_support/log_capture.h"
#include "package/offplay_runs.h"
#include "package/package_layout.h"
#include "package/package_probe.h"
#include "package/workspace_folders.h"
#include "test_support/package_bytes.h"
#include "test_support/scratch_folder.h"
#include "test_support/retry_pauses.h"
#include "test_support/temp_redirect.h"
#include "test_support/unresolved_volume.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A source of given bytes and a target that collects them; each can be told
// to misbehave.
class FakeStreams : public ArchiveCopyStreams {
  public:
    explicit FakeStreams(Bytes source) : source_(std::move(source)) {}

    bool Read(unsigned char* buffer, DWORD size, DWORD* got) override {
        reads.push_back(size);
        if (failReadAt == reads.size()) {
            return false;
        }
        size_t left = source_.size() - position_;
        *got = static_cast<DWORD>(std::min<size_t>(size, left));
        std::memcpy(buffer, source_.data() + position_, *got);
        position_ += *got;
        return true;
    }
    bool Write(const unsigned char* buffer, DWORD size, DWORD* written) override {
        ++writes;
        if (failWrite) {
            *written = 0;
            return false;
        }
        *written = shortWrite ? size / 2 : size;
        target.insert(target.end(), buffer, buffer + *written);
        return true;
    }

    std::vector<DWORD> reads;
    size_t writes = 0;
    size_t failReadAt = 0;  // 1-based; 0 never
    bool failWrite = false;
    bool shortWrite = false;
    Bytes target;

  private:
    Bytes source_;
    size_t position_ = 0;
};

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>((i * 31 + 7) & 0xFF);
    }
    return bytes;
}

unsigned char buffer[kCopyBufferSize];

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

TEST(CopyLoop, ReadsWholeChunksAndTheRest) {
    FakeStreams exact(Pattern(8192));
    EXPECT_EQ(CopyArchiveBytes(exact, 8192, buffer), CopyOutcome::Complete);
    EXPECT_EQ(exact.reads, std::vector<DWORD>{8192});
    FakeStreams oneMore(Pattern(8193));
    EXPECT_EQ(CopyArchiveBytes(oneMore, 8193, buffer), CopyOutcome::Complete);
    EXPECT_EQ(oneMore.reads, (std::vector<DWORD>{8192, 1}));
    EXPECT_EQ(oneMore.target, Pattern(8193));
    // Only the archive's length is copied, whatever follows it.
    Bytes source = Pattern(30000);
    FakeStreams longer(source);
    EXPECT_EQ(CopyArchiveBytes(longer, 20000, buffer), CopyOutcome::Complete);
    EXPECT_EQ(longer.target, Bytes(source.begin(), source.begin() + 20000));
}

TEST(CopyLoop, FailuresEndTheCopy) {
    FakeStreams readFails(Pattern(20000));
    readFails.failReadAt = 2;
    EXPECT_EQ(CopyArchiveBytes(readFails, 20000, buffer), CopyOutcome::ReadFailed);
    EXPECT_EQ(readFails.writes, 1u);

    FakeStreams writeFails(Pattern(20000));
    writeFails.failWrite = true;
    EXPECT_EQ(CopyArchiveBytes(writeFails, 20000, buffer), CopyOutcome::WriteFailed);
    EXPECT_EQ(writeFails.reads.size(), 1u);

    // A write that takes fewer bytes than were read is a failure, not a success.
    FakeStreams shortWrite(Pattern(20000));
    shortWrite.shortWrite = true;
    EXPECT_EQ(CopyArchiveBytes(shortWrite, 20000, buffer), CopyOutcome::WriteFailed);

    // A source that ends before the archive length: no endless loop.
    FakeStreams truncated(Pattern(10000));
    EXPECT_EQ(CopyArchiveBytes(truncated, 20000, buffer), CopyOutcome::SourceEnded);
    EXPECT_EQ(truncated.reads.size(), 3u);
}

class CopyOut : public ::testing::Test {
  protected:
    void SetUp() override { run_claim_seam::Release(); }
    void TearDown() override {
        run_claim_seam::Release();
        if (PackageSource.executable != INVALID_HANDLE_VALUE) {
            CloseHandle(PackageSource.executable);
            PackageSource.executable = INVALID_HANDLE_VALUE;
        }
    }

    // Writes a package around archive and probes it, as the launcher does with
    // its own executable.
    void ProbePackage(const Bytes& archive) {
        Bytes file = PackageBytes(kMarkerSearchStart, "en_US", archive);
        if (PackageSource.executable != INVALID_HANDLE_VALUE) {
            CloseHandle(PackageSource.executable);
            PackageSource.executable = INVALID_HANDLE_VALUE;
        }
        packagePath = redirect.outside() + L"\\event.exe";
        ASSERT_TRUE(WriteFileBytes(packagePath, file));
        ASSERT_EQ(ProbePackageFile(packagePath.c_str()), 1);
        packageSize = file.size();
        probeLines = log.Lines().size();
    }

    // The log lines written since the probe.
    std::vector<std::string> CopyLines() const {
        std::vector<std::string> lines = log.Lines();
        lines.erase(lines.begin(), lines.begin() + std::min(probeLines, lines.size()));
        return lines;
    }

    std::wstring OffPlay(const std::wstring& name) const {
        return redirect.temp() + L"OffPlay\\" + name;
    }
    void MakeRun(int number, bool withClient) {
        std::wstring folder = OffPlay(L"rec_" + std::to_wstring(number));
        CreateDirectoryW(OffPlay(L"").c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\bin").c_str(), nullptr);
        WriteFileText(folder + L"\\data.txt", "left by an earlier run");
        if (withClient) {
            WriteFileText(folder + L"\\bin\\velmar.exe", "MZ");
        }
    }

    TempRedirect redirect{L"copyout"};
    LogCapture log{redirect.outside() + L"\\log.txt"};
    std::wstring packagePath;
    size_t packageSize = 0;
    size_t probeLines = 0;
};

TEST_F(CopyOut, FirstRunCopiesTheArchiveByteForByte) {
    Bytes archive = ReadFixture(L"package\\copy_large.zip");
    ASSERT_FALSE(archive.empty());
    ProbePackage(archive);
    wchar_t path[260] = {};
    ASSERT_EQ(GetZipFromExe(path), 1);
    std::wstring expected = OffPlay(L"rec_1.zip");
    EXPECT_EQ(std::wstring(path), expected);
    EXPECT_EQ(ReadFileBytes(expected), archive);
    std::string narrow(expected.begin(), expected.end());
    EXPECT_EQ(CopyLines(), (std::vector<std::string>{
                               "GetZipFrom Exe Generated filename =" + narrow,
                               "ExeFileSize =" + std::to_string(packageSize),
                               "Created zip file " + narrow,
                           }));
    // The number stays claimed until the process lets it go.
    EXPECT_TRUE(run_claim_seam::Held());
    EXPECT_TRUE(FileExists(OffPlay(L"rec_1.lock")));
    run_claim_seam::Release();
    EXPECT_FALSE(FileExists(OffPlay(L"rec_1.lock")));
}

TEST_F(CopyOut, ArchivesOnEitherSideOfAChunkAreCopiedWhole) {
    for (const wchar_t* name : {L"package\\copy_8192.zip", L"package\\copy_8193.zip"}) {
        Bytes archive = ReadFixture(name);
        ProbePackage(archive);
        wchar_t path[260] = {};
        ASSERT_EQ(GetZipFromExe(path), 1) << name;
        EXPECT_EQ(ReadFileBytes(path), archive) << name;
        run_claim_seam::Release();
        DeleteTemporaryArchive();
    }
}

TEST_F(CopyOut, SecondLauncherTakesAnotherNumberWhileTheFirstRuns) {
    Bytes archive = ReadFixture(L"package\\copy_large.zip");
    ProbePackage(archive);
    wchar_t first[260] = {};
    ASSERT_EQ(GetZipFromExe(first), 1);
    ASSERT_TRUE(run_claim_seam::Held());
    EXPECT_FALSE(ClaimRunNumber(redirect.temp() + L"OffPlay\\rec_", 1).valid())
        << "a held claim was granted twice";
    // The first run is in progress: its work folder holds an extracted client
    // that has not been started yet.
    MakeRun(1, true);
    // A second launcher (this process again: the first claim is held until
    // the second run has chosen its own number).
    wchar_t second[260] = {};
    ASSERT_EQ(GetZipFromExe(second), 1);
    EXPECT_EQ(std::wstring(second), OffPlay(L"rec_2.zip"));
    EXPECT_EQ(ReadFileBytes(first), archive);
    EXPECT_EQ(ReadFileBytes(second), archive);
    EXPECT_TRUE(FileExists(OffPlay(L"rec_1\\bin\\velmar.exe")));
    EXPECT_TRUE(FileExists(OffPlay(L"rec_1\\data.txt")));
}

TEST_F(CopyOut, ArchiveThatCannotBeCreatedPassesItsNumberOn) {
    Bytes archive = ReadFixture(L"package\\copy_8193.zip");
    ProbePackage(archive);
    CreateDirectoryW(OffPlay(L"").c_str(), nullptr);
    WriteFileText(OffPlay(L"rec_1.zip"), "read-only leftover");
    SetFileAttributesW(OffPlay(L"rec_1.zip").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(OffPlay(L"rec_2.zip").c_str(), nullptr);
    wchar_t path[260] = {};
    ASSERT_EQ(GetZipFromExe(path), 1);
    EXPECT_EQ(std::wstring(path), OffPlay(L"rec_3.zip"));
    EXPECT_EQ(ReadFileBytes(path), archive);
    EXPECT_EQ(ReadFileBytes(OffPlay(L"rec_1.zip")),
              Bytes({'r', 'e', 'a', 'd', '-', 'o', 'n', 'l', 'y', ' ', 'l', 'e', 'f', 't', 'o', 'v',
                     'e', 'r'}));
    EXPECT_EQ(CopyLines()[0].rfind("Can't create zip file " + Narrow(OffPlay(L"rec_1.zip")), 0),
              0u);
    run_claim_seam::Release();

    // No number left: nothing is written, and the caller shows the failure.
    // Deleted through the handle kept on it, as the launch does after extraction.
    EXPECT_TRUE(DeleteTemporaryArchive());
    EXPECT_FALSE(FileExists(path));
    for (int n = 3; n <= 99; ++n) {
        CreateDirectoryW(OffPlay(L"rec_" + std::to_wstring(n) + L".zip").c_str(), nullptr);
    }
    probeLines = log.Lines().size();
    EXPECT_EQ(GetZipFromExe(path), 0);
    EXPECT_EQ(path[0], L'\0');
    ASSERT_FALSE(CopyLines().empty());
    EXPECT_EQ(CopyLines().back().rfind("No number for the temporary archive", 0), 0u);
    EXPECT_FALSE(run_claim_seam::Held());
    SetFileAttributesW(OffPlay(L"rec_1.zip").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CopyOut, ClaimsAndTheSweepWorkWhereFinalPathsCannotBeResolved) {
    Bytes archive = ReadFixture(L"package\\copy_8193.zip");
    ProbePackage(archive);
    for (bool volumePaths : {true, false}) {
        UnresolvedVolume volume(volumePaths);
        MakeRun(1, true);
        MakeRun(2, false);
        WriteFileText(OffPlay(L"rec_1\\bin\\keep.txt"), "read-only");
        SetFileAttributesW(OffPlay(L"rec_1\\bin\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        wchar_t path[260] = {};
        ASSERT_EQ(GetZipFromExe(path), 1) << volumePaths;
        EXPECT_EQ(std::wstring(path), OffPlay(L"rec_3.zip"));
        EXPECT_EQ(ReadFileBytes(path), archive);
        EXPECT_FALSE(FileExists(OffPlay(L"rec_1"))) << volumePaths;
        EXPECT_FALSE(FileExists(OffPlay(L"rec_2"))) << volumePaths;
        // The claim holds: a second claim of 3 fails, 4 can be claimed.
        EXPECT_FALSE(ClaimRunNumber(OffPlay(L"rec_"), 3).valid());
        EXPECT_TRUE(ClaimRunNumber(OffPlay(L"rec_"), 4).valid());
        run_claim_seam::Release();
        EXPECT_FALSE(FileExists(OffPlay(L"rec_3.lock")));
        EXPECT_TRUE(DeleteTemporaryArchive());
    }
}

// A scanner that opened a file for a moment, sharing reading only: the sweep
// and the deletion of the temporary archive wait for it; one that holds on
// is given up on with one log line.
TEST_F(CopyOut, FilesHeldForAMomentAreDeletedAfterAll) {
    ProbePackage(ReadFixture(L"package\\copy_8193.zip"));
    MakeRun(1, true);
    auto hold = [](const std::wstring& path) {
        return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    };
    UniqueFileHandle scanned = hold(OffPlay(L"rec_1\\data.txt"));
    ASSERT_TRUE(scanned.valid());
    wchar_t path[260] = {};
    {
        RecordedPauses pauses([&] { scanned.reset(); });
        ASSERT_EQ(GetZipFromExe(path), 1);
        EXPECT_EQ(pauses.pauses(), std::vector<DWORD>{kFirstRetryPauseMs});
    }
    EXPECT_FALSE(FileExists(OffPlay(L"rec_1")));
    for (bool letGo : {true, false}) {
        if (!letGo) {
            run_claim_seam::Release();
            ASSERT_EQ(GetZipFromExe(path), 1);
        }
        scanned = hold(path);
        RecordedPauses pauses([&] {
            if (letGo) {
                scanned.reset();
            }
        });
        EXPECT_EQ(DeleteTemporaryArchive(), letGo);
        EXPECT_EQ(FileExists(path), !letGo);
    }
    EXPECT_EQ(log.Count("Gave up"), 1u);
    EXPECT_TRUE(log.Contains("Gave up trying to delete " + Narrow(path) +
                             " after 500 ms of retries (error 32)"));
}

TEST_F(CopyOut, NoExecutableMeansNoSizeAndNoFile) {
    PackageSource.executable = INVALID_HANDLE_VALUE;
    wchar_t path[260] = {};
    EXPECT_EQ(GetZipFromExe(path), 0);
    EXPECT_EQ(std::wstring(path), OffPlay(L"rec_1.zip"));
    EXPECT_FALSE(FileExists(path));
    std::vector<std::string> lines = CopyLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Can't get size of exe file");
}

TEST_F(CopyOut, TemporaryFolderTooLongForTheNamesIsRefused) {
    std::wstring deep = redirect.temp() + std::wstring(200, L'd') + L"\\";
    CreateDirectoryW(deep.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", deep.c_str());
    ProbePackage(ReadFixture(L"package\\copy_8193.zip"));
    wchar_t path[260];
    std::fill(path, path + 260, L'#');
    EXPECT_EQ(GetZipFromExe(path), 0);
    EXPECT_EQ(path[0], L'\0');
    EXPECT_FALSE(FileExists(deep + L"OffPlay"));
    ASSERT_EQ(CopyLines().size(), 1u);
    EXPECT_EQ(CopyLines()[0].rfind("Can't create zip file ", 0), 0u);
}
