// velmar-pack and the launcher agree: the launcher's own probe finds what
// velmar-pack --inspect reported on the same files (written by
// test_pack_wine.py into the fixtures), and the packer's payload check
// accepts what the launcher's extraction writes in full.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "common/folder_creation.h"
#include "common/process_state.h"
#include "common/run_failure.h"
#include "extract/entry_rules.h"
#include "extract/extraction_driver.h"
#include "package/package_probe.h"
#include "test_support/log_capture.h"
#include "test_support/scratch_folder.h"
#include "tools/pack/payload_source.h"

namespace {

std::map<std::string, std::string> ReadReport(const std::wstring& path) {
    std::map<std::string, std::string> values;
    std::ifstream input(path.c_str());
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || line.compare(0, colon, "entry") == 0) {
            continue;
        }
        std::string value = line.substr(colon + 1);
        values[line.substr(0, colon)] = value.empty() ? value : value.substr(1);
    }
    return values;
}

class ProbeAgreesWithInspect : public ::testing::TestWithParam<const char*> {};

TEST_P(ProbeAgreesWithInspect, OnOffsetsAndPropertyText) {
    std::string name = GetParam();
    std::wstring fixture = L"tools\\" + std::wstring(name.begin(), name.end());
    std::map<std::string, std::string> report = ReadReport(FixturePath(fixture + L".inspect.txt"));
    ASSERT_EQ(report.count("exit code"), 1u) << "no report for " << name;

    // As at process start: the probe keeps earlier text when it reads none.
    std::memset(PackageSource.propertyText, 0, sizeof PackageSource.propertyText);
    int result = ProbePackageFile(FixturePath(fixture + L".exe").c_str());
    if (report["exit code"] == "1") {
        EXPECT_EQ(result, 0);
        return;
    }
    ASSERT_EQ(report["exit code"], "0");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(PackageSource.propertyOffset, std::stoi(report["property offset"]));
    EXPECT_EQ(PackageSource.propertyOffset - 6, std::stoi(report["marker offset"]));
    EXPECT_EQ(PackageSource.archiveOffset, std::stoi(report["archive offset"]));
    EXPECT_EQ(std::string(PackageSource.propertyText), report["locale text"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ProbeAgreesWithInspect,
                         ::testing::Values("folder", "overlong", "two_markers", "no_archive",
                                           "plain"));

// Every rule's case through velmar-pack's check and the launcher's
// extraction, below a work folder of the longest documented length and with
// folder creation refused past 247 characters, as Windows refuses it: what
// the packer accepts, the launcher extracts in full; what the launcher
// refuses, skips or fails on, the packer refuses, naming the entry.
BOOL WINAPI CreateFolderAsWindows(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    size_t length = std::wcslen(path);
    while (length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/')) {
        --length;
    }
    if (length > kLongestFolderPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return CreateDirectoryW(path, security);
}

// Whether every entry of the archive is in the work folder, files at their
// size; an entry the launcher's reader cannot read counts as missing.
bool ExtractedInFull(const std::wstring& archive) {
    ZipReader* reader = OpenZipArchive(archive.c_str());
    ZipEntryInfo count = {};
    bool full = reader != nullptr && ReadEntryInfo(reader, -1, &count) == ZipOk;
    for (int index = 0; full && index < count.entryIndex; ++index) {
        ZipEntryInfo entry = {};
        WIN32_FILE_ATTRIBUTE_DATA found;
        full = ReadEntryInfo(reader, index, &entry) == ZipOk &&
               GetFileAttributesExW((std::wstring(WorkFolder) + L"\\" + entry.entryName).c_str(),
                                    GetFileExInfoStandard, &found) &&
               ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                found.nFileSizeLow == entry.unpackedSize);
    }
    CloseZipArchive(reader);
    return full;
}

class PackAgreesWithExtraction : public ::testing::Test {
  protected:
    void SetUp() override {
        std::wstring work = scratch_.path() + L"\\";
        work.append(kLongestWorkFolder - work.size(), L'w');
        ASSERT_TRUE(CreateDirectoryW(work.c_str(), nullptr));
        std::wcsncpy(WorkFolder, work.c_str(), kPathCapacity - 1);
        FolderCreation = CreateFolderAsWindows;
    }
    void TearDown() override {
        FolderCreation = CreateDirectoryW;
        SetCurrentDirectoryW(scratch_.path().c_str());
        WorkFolder[0] = L'\0';
    }
    // The launcher's extraction into a work folder emptied first.
    bool LauncherExtractsInFull(const std::wstring& archive) {
        SetCurrentDirectoryW(scratch_.path().c_str());
        RemoveTreeForTests(WorkFolder);
        CreateDirectoryW(WorkFolder, nullptr);
        ClearRunFailures();
        size_t skips = Skips();
        return ExtractArchive(archive.c_str(), WorkFolder) && ExtractedInFull(archive) &&
               Skips() == skips;
    }
    // Entries the launcher leaves out say so in the log, nested ones too.
    size_t Skips() const {
        return log_.Count("Refusing archive entry") + log_.Count("not extracted") +
               log_.Count("Not following");
    }

    ScratchFolder scratch_{L"agree"};
    LogCapture log_{scratch_ / L"log.txt"};
};

TEST_F(PackAgreesWithExtraction, OnEveryRule) {
    struct Case {
        const char* label;
        const char* refusal;  // a phrase of the packer's refusal; empty: accepted
        const char* named;    // the part of the refusal that names the entry
        bool pathTooLong;     // the launcher fails for a path too long
    };
    const Case cases[] = {
        {"plain", "", "", false},
        {"double-separator", "", "", false},
        {"four-byte", "", "", false},
        {"longest-name", "", "", false},
        {"longest-folder", "", "", false},
        {"com-superscript", "device", "media/COM\xC2\xB9.txt", false},
        {"device", "device", "media/aux.txt", false},
        {"leads-outside", "outside", "../evil.txt", false},
        {"blank-part", "outside", "media/ /x.txt", false},
        {"drive", "':'", "C:/x.txt", false},
        {"root", "root", "/abs.txt", false},
        {"surrogate", "UTF-8", "media/\\xED\\xA0\\x80.txt", false},
        {"overlong", "UTF-8", "media/\\xE0\\x80\\x80.txt", false},
        {"lead-f5", "UTF-8", "media/\\xF5\\x80\\x80\\x80.txt", false},
        {"unflagged", "code page", "media/caf", false},
        {"name-161", "161 characters", "nnnn", true},
        {"folder-149", "149 characters", "ffff", true},
        {"folder-entry-149", "149 characters", "ffff", true},
        {"name-bytes", "bytes", "media/\xE4\xB8\xAD", false},
        {"cabinet-path", "cabinet library", "x.cab", true},
        {"overlap-bomb", "overlaps", "zeros", false},
        {"nested-accepted", "", "", false},
        {"nested-device", "device", "media/COM\xC2\xB9.txt", false},
        {"nested-bomb", "overlap", "inner.zip", false},
        {"nested-cab-device", "device", "nul.txt", false},
    };
    for (const Case& c : cases) {
        std::string label = c.label;
        std::wstring archive =
            FixturePath(L"tools\\agree\\" + std::wstring(label.begin(), label.end()) + L".zip");
        Payload payload;
        std::string error;
        bool packerAccepts = ReadPayload(std::filesystem::path(archive), payload, error);
        bool launcherFull = LauncherExtractsInFull(archive);
        EXPECT_EQ(packerAccepts, std::string(c.refusal).empty()) << label << ": " << error;
        EXPECT_TRUE(!packerAccepts || launcherFull) << label << ": accepted, not extracted in full";
        EXPECT_NE(error.find(c.refusal), std::string::npos) << label << ": " << error;
        EXPECT_NE(error.find(c.named), std::string::npos) << label << ": " << error;
        EXPECT_EQ(FirstRunFailure().cause == RunFailure::PathTooLong, c.pathTooLong) << label;
    }
}

}  // namespace
