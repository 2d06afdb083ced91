#include "extract/cabinet_extraction.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "extract/cabinet_copy.h"
#include "extract/cabinet_folders.h"
#include "diagnostics/diagnostic_log.h"
#include "common/process_state.h"

namespace {

std::string Fixture(const char* name) {
    const char* root = std::getenv("VELMAR_FIXTURES");
    return std::string(root != nullptr ? root : ".") + "\\extract\\cab\\" + name;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Everything below folder, relative, sorted; folders end in a backslash.
std::vector<std::string> Tree(const std::string& folder, const std::string& prefix = "") {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.push_back(prefix + name + "\\");
            std::vector<std::string> inner = Tree(folder + "\\" + name, prefix + name + "\\");
            names.insert(names.end(), inner.begin(), inner.end());
        } else {
            names.push_back(prefix + name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

// A fresh folder below the user's temporary folder, removed afterwards.
class CabinetExtraction : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        static int counter = 0;
        scratch_ = std::string(temp) + "velmar_cab_" + std::to_string(GetCurrentProcessId()) + "_" +
                   std::to_string(++counter);
        RemoveTree(scratch_);
        ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr));
        destination_ = scratch_ + "\\dest";
        ASSERT_TRUE(CreateDirectoryA(destination_.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(scratch_); }

    std::string In(const std::string& name) const { return destination_ + "\\" + name; }
    int Extract(const char* cabinet, const char* onlyName = nullptr) {
        return ExtractCabinet(destination_.c_str(), Fixture(cabinet).c_str(), onlyName);
    }

    std::string scratch_;
    std::string destination_;
};

// Collects what the extraction logs in a file of the scratch folder.
class CapturedLog {
  public:
    explicit CapturedLog(const std::string& folder) : path_(folder + "\\captured_log.txt") {
        saved_ = LogHandle;
        std::wstring wide(path_.begin(), path_.end());
        LogHandle = CreateLogFile(wide.c_str());
    }
    ~CapturedLog() { Finish(); }
    std::string Finish() {
        if (LogHandle != saved_) {
            delete LogHandle;
            LogHandle = saved_;
        }
        return ReadAll(path_);
    }

  private:
    std::string path_;
    LogFile* saved_;
};

int CountLines(const std::string& text, const std::string& needle) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        count += line.find(needle) != std::string::npos ? 1 : 0;
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return count;
}

}  // namespace

TEST_F(CabinetExtraction, ExtractsEveryMemberButTopLevelPackageProperties) {
    ASSERT_EQ(Extract("main.cab"), 0);
    EXPECT_EQ(Tree(destination_), (Names{"a\\", "a\\b\\", "a\\b\\c.txt", "docs\\",
                                         "docs\\package.properties", "readme.txt"}));
    EXPECT_EQ(ReadAll(In("readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(ReadAll(In("a\\b\\c.txt")), "three folders deep\n");
    EXPECT_EQ(ReadAll(In("docs\\package.properties")), "documentation properties\n");
}

TEST_F(CabinetExtraction, PackagePropertiesInOtherLetterCaseIsSkippedToo) {
    ASSERT_EQ(Extract("upper.cab"), 0);
    EXPECT_EQ(Tree(destination_), (Names{"other.txt"}));
}

TEST_F(CabinetExtraction, OneFileModeExtractsOnlyTheNamedMember) {
    ASSERT_EQ(Extract("main.cab", "package.properties"), 0);
    EXPECT_EQ(Tree(destination_), (Names{"package.properties"}));
    EXPECT_EQ(ReadAll(In("package.properties")), "locale=en_US\n");

    RemoveTree(destination_);
    ASSERT_TRUE(CreateDirectoryA(destination_.c_str(), nullptr));
    ASSERT_EQ(Extract("main.cab", "A\\B\\C.TXT"), 0);
    EXPECT_EQ(Tree(destination_), (Names{"a\\", "a\\b\\", "a\\b\\c.txt"}));

    RemoveTree(destination_);
    ASSERT_TRUE(CreateDirectoryA(destination_.c_str(), nullptr));
    EXPECT_EQ(Extract("main.cab", "c.txt"), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

TEST_F(CabinetExtraction, TrailingBackslashOnTheDestinationMakesNoDifference) {
    std::string second = scratch_ + "\\second\\";
    ASSERT_TRUE(CreateDirectoryA(second.c_str(), nullptr));
    ASSERT_EQ(Extract("main.cab"), 0);
    ASSERT_EQ(ExtractCabinet(second.c_str(), Fixture("main.cab").c_str(), nullptr), 0);
    EXPECT_EQ(Tree(second), Tree(destination_));
    EXPECT_EQ(ReadAll(second + "a\\b\\c.txt"), ReadAll(In("a\\b\\c.txt")));
    // No doubled separator crept into a path: nothing landed beside the folders.
    EXPECT_EQ(Tree(scratch_).size(), 2 * Tree(destination_).size() + 2);
}

TEST_F(CabinetExtraction, ReadOnlyLongerFileInPlaceIsReplacedWhole) {
    std::string existing = In("readme.txt");
    WriteAll(existing, std::string(500, 'o'));
    ASSERT_TRUE(
        SetFileAttributesA(existing.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(Extract("main.cab"), 0);
    EXPECT_EQ(ReadAll(existing), "readme from the cabinet\n");
    EXPECT_EQ(Attributes(existing), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(CabinetExtraction, MembersKeepTheirTimesAndMaskedAttributes) {
    ASSERT_EQ(Extract("attribs.cab"), 0);
    // The stored date and time: 2021-03-04 05:06:08, read as local time.
    const WORD date = ((2021 - 1980) << 9) | (3 << 5) | 4;
    const WORD time = (5 << 11) | (6 << 5) | (8 / 2);
    FILETIME local;
    FILETIME expected;
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &expected));
    // The test zone is not UTC, so a missed conversion would show.
    ASSERT_NE(CompareFileTime(&local, &expected), 0);

    struct Expectation {
        const char* name;
        DWORD attributes;
    };
    const Expectation members[] = {
        // Stored as read-only and archive: Wine shows the archive bit on every file.
        {"locked.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {"exec.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},  // 0x40 dropped
        {"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Expectation& member : members) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(In(member.name).c_str(), GetFileExInfoStandard, &data))
            << member.name;
        EXPECT_EQ(data.dwFileAttributes, member.attributes) << member.name;
        EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &expected), 0) << member.name;
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &expected), 0) << member.name;
    }
    EXPECT_EQ(ReadAll(In("locked.txt")), "read-only member\n");
}

TEST_F(CabinetExtraction, NotACabinetExtractsNothingAndFails) {
    // Announces a next cabinet: the copy returns instead of asking for it again and again.
    Extract("next_cabinet.cab");
    RemoveTree(destination_);
    EXPECT_NE(Extract("notacab.bin"), 0);
    EXPECT_NE(Extract("no-such-file.cab"), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

TEST_F(CabinetExtraction, CabinetPathWithoutBackslashIsFoundInTheCurrentFolder) {
    std::string here = scratch_ + "\\here";
    ASSERT_TRUE(CreateDirectoryA(here.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(Fixture("main.cab").c_str(), (here + "\\local.cab").c_str(), TRUE));
    char saved[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(here.c_str()));
    int result = ExtractCabinet(destination_.c_str(), "local.cab", nullptr);
    SetCurrentDirectoryA(saved);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadAll(In("readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(Tree(here), (Names{"local.cab"}));
}

TEST_F(CabinetExtraction, MemberThatCannotBeCreatedAbortsButKeepsEarlierMembers) {
    WriteAll(In("a"), "a file where the folder a should go\n");
    EXPECT_NE(Extract("main.cab"), 0);
    EXPECT_EQ(ReadAll(In("readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(ReadAll(In("docs\\package.properties")), "documentation properties\n");
    EXPECT_FALSE(Exists(In("a\\b\\c.txt")));
}

TEST_F(CabinetExtraction, NamesLeadingOutsideAreSkippedAndLogged) {
    // The destination two levels down, so that an escape one or two levels up shows.
    std::string sub = scratch_ + "\\sub";
    std::string deep = sub + "\\dest";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    CapturedLog log(scratch_);
    ASSERT_EQ(ExtractCabinet(deep.c_str(), Fixture("hostile.cab").c_str(), nullptr), 0);
    std::string text = log.Finish();

    EXPECT_EQ(Tree(sub), (Names{"dest\\", "dest\\last.txt", "dest\\safe.txt"}));
    EXPECT_EQ(Tree(scratch_), (Names{"captured_log.txt", "dest\\", "sub\\", "sub\\dest\\",
                                     "sub\\dest\\last.txt", "sub\\dest\\safe.txt"}));
    EXPECT_FALSE(Exists("\\rooted3.txt"));
    EXPECT_FALSE(Exists("C:\\drive4.txt"));
    EXPECT_FALSE(Exists("C:\\rooted3.txt"));
    EXPECT_EQ(CountLines(text, "leads outside the destination folder"), 6) << text;
    EXPECT_EQ(CountLines(text, "\"a\\..\\..\\escape2.txt\""), 1) << text;
    EXPECT_EQ(CountLines(text, "\"\\\\server\\share\\unc5.txt\""), 1) << text;
}

// A member that cannot be written under its own name leaves the cabinet incomplete.
TEST_F(CabinetExtraction, MemberPathTooLongFailsTheCabinetAndIsLogged) {
    CapturedLog log(scratch_);
    ASSERT_NE(Extract("long.cab"), 0);
    std::string text = log.Finish();
    EXPECT_EQ(Tree(destination_), (Names{"short.txt"}));
    EXPECT_EQ(CountLines(text, "its path is too long"), 1) << text;
}

TEST_F(CabinetExtraction, DestinationOrCabinetPathTooLongIsRefused) {
    std::string longDestination = "C:\\" + std::string(kCabinetPathCapacity - 4, 'd');
    EXPECT_EQ(ExtractCabinet(longDestination.c_str(), Fixture("main.cab").c_str(), nullptr), -1);
    EXPECT_EQ(ExtractCabinet("", Fixture("main.cab").c_str(), nullptr), -1);
    EXPECT_EQ(ExtractCabinet(nullptr, Fixture("main.cab").c_str(), nullptr), -1);
    std::string longCabinet = std::string(kCabinetPathCapacity, 'c') + ".cab";
    EXPECT_NE(ExtractCabinet(destination_.c_str(), longCabinet.c_str(), nullptr), 0);
    EXPECT_NE(ExtractCabinet(destination_.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

// Names the library hands over unchecked, fed straight to the handler.
TEST_F(CabinetExtraction, HandlerRefusesHostileNamesAndPathsAtTheBufferEdge) {
    CabinetTarget target = {};
    std::string folder = destination_ + "\\";
    ASSERT_LT(folder.size(), sizeof(target.destination));
    folder.copy(target.destination, folder.size());
    FDINOTIFICATION notification = {};
    notification.pv = &target;

    const char* const refused[] = {"nul", "docs\\con.txt", "a\\.. \\x.txt", "x.txt:stream"};
    for (const char* name : refused) {
        notification.psz1 = const_cast<char*>(name);
        EXPECT_EQ(CabinetNotify(fdintCOPY_FILE, &notification), 0) << name;
    }
    EXPECT_EQ(Tree(destination_), Names{});

    // destination + name of exactly 259 characters is opened; one more is refused.
    std::string name(kPathCapacity - 1 - folder.size(), 'n');
    notification.psz1 = &name[0];
    INT_PTR file = CabinetNotify(fdintCOPY_FILE, &notification);
    ASSERT_GE(file, 0);
    notification.hf = file;
    EXPECT_EQ(CabinetNotify(fdintCLOSE_FILE_INFO, &notification), 1);
    EXPECT_EQ(Tree(destination_), (Names{name}));
    std::string longer = name + "n";
    notification.psz1 = &longer[0];
    EXPECT_EQ(CabinetNotify(fdintCOPY_FILE, &notification), -1);
    EXPECT_EQ(Tree(destination_), (Names{name}));

    // The notifications with nothing to do.
    EXPECT_EQ(CabinetNotify(fdintCABINET_INFO, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintPARTIAL_FILE, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintENUMERATE, &notification), 0);
    // A next cabinet is never looked for: -1 ends the copy (0 would retry it).
    EXPECT_EQ(CabinetNotify(fdintNEXT_CABINET, &notification), -1);
    EXPECT_EQ(CabinetNotify(fdintCOPY_FILE, nullptr), 0);
}

TEST_F(CabinetExtraction, FolderCreationMakesMissingParentsAndAlwaysEnds) {
    std::string nested = scratch_ + "\\x\\y\\z";
    CreateFolderWithParents(nested.c_str());
    EXPECT_TRUE(Attributes(nested) & FILE_ATTRIBUTE_DIRECTORY);

    char saved[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(scratch_.c_str()));
    CreateFolderWithParents("rel\\one\\two");
    CreateFolderWithParents("");
    CreateFolderWithParents(nullptr);
    SetCurrentDirectoryA(saved);
    EXPECT_TRUE(Attributes(scratch_ + "\\rel\\one\\two") & FILE_ATTRIBUTE_DIRECTORY);

    // A drive that does not exist: every level fails, and the attempt ends.
    EXPECT_EQ(CreateFolderWithParents("Q:\\velmar\\a\\b"), 0);
    // A file in the way of a folder: no folder, and the file stays as it was.
    WriteAll(scratch_ + "\\blocker", "file\n");
    EXPECT_EQ(CreateFolderWithParents((scratch_ + "\\blocker\\inner").c_str()), 0);
    EXPECT_EQ(ReadAll(scratch_ + "\\blocker"), "file\n");
}
