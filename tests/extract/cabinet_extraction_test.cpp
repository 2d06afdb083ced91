#include "extract/cabinet_extraction.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/text_conversion.h"
#include "extract/cabinet_copy.h"
#include "extract/cabinet_folders.h"
#include "test_support/log_capture.h"
#include "test_support/scratch_folder.h"

namespace {

std::string Utf8(const std::wstring& text) {
    std::string narrow;
    NarrowFromWide(CP_UTF8, text, 0, narrow);
    return narrow;
}

std::string Fixture(const char* name) {
    return Utf8(FixturePath(L"extract\\cab\\" + std::wstring(name, name + strlen(name))));
}

DWORD Attributes(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

using Names = std::vector<std::wstring>;

// Everything below folder, relative, sorted; folders end in a backslash.
Names Tree(const std::wstring& folder, const std::wstring& prefix = L"") {
    Names names;
    for (const std::wstring& name : FolderNames(folder)) {
        if (Attributes(folder + L"\\" + name) & FILE_ATTRIBUTE_DIRECTORY) {
            names.push_back(prefix + name + L"\\");
            Names inner = Tree(folder + L"\\" + name, prefix + name + L"\\");
            names.insert(names.end(), inner.begin(), inner.end());
        } else {
            names.push_back(prefix + name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A fresh scratch folder with an empty destination folder in it.
class CabinetExtraction : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr)); }

    std::wstring In(const std::wstring& name) const { return destination_ + L"\\" + name; }
    int Extract(const char* cabinet, const char* onlyName = nullptr) {
        return ExtractCabinet(Utf8(destination_).c_str(), Fixture(cabinet).c_str(), onlyName);
    }
    void EmptyDestination() {
        RemoveTreeForTests(destination_);
        ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr));
    }

    ScratchFolder scratch_{L"cab"};
    std::wstring destination_ = scratch_ / L"dest";
};

}  // namespace

TEST_F(CabinetExtraction, ExtractsEveryMemberButTopLevelPackageProperties) {
    ASSERT_EQ(Extract("main.cab"), 0);
    EXPECT_EQ(Tree(destination_), (Names{L"a\\", L"a\\b\\", L"a\\b\\c.txt", L"docs\\",
                                         L"docs\\package.properties", L"readme.txt"}));
    EXPECT_EQ(ReadFileText(In(L"readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(ReadFileText(In(L"a\\b\\c.txt")), "three folders deep\n");
    EXPECT_EQ(ReadFileText(In(L"docs\\package.properties")), "documentation properties\n");
}

TEST_F(CabinetExtraction, PackagePropertiesInOtherLetterCaseIsSkippedToo) {
    ASSERT_EQ(Extract("upper.cab"), 0);
    EXPECT_EQ(Tree(destination_), (Names{L"other.txt"}));
}

TEST_F(CabinetExtraction, OneFileModeExtractsOnlyTheNamedMember) {
    ASSERT_EQ(Extract("main.cab", "package.properties"), 0);
    EXPECT_EQ(Tree(destination_), (Names{L"package.properties"}));
    EXPECT_EQ(ReadFileText(In(L"package.properties")), "locale=en_US\n");

    EmptyDestination();
    ASSERT_EQ(Extract("main.cab", "A\\B\\C.TXT"), 0);
    EXPECT_EQ(Tree(destination_), (Names{L"a\\", L"a\\b\\", L"a\\b\\c.txt"}));

    EmptyDestination();
    EXPECT_EQ(Extract("main.cab", "c.txt"), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

TEST_F(CabinetExtraction, TrailingBackslashOnTheDestinationMakesNoDifference) {
    std::wstring second = scratch_ / L"second\\";
    ASSERT_TRUE(CreateDirectoryW(second.c_str(), nullptr));
    ASSERT_EQ(Extract("main.cab"), 0);
    ASSERT_EQ(ExtractCabinet(Utf8(second).c_str(), Fixture("main.cab").c_str(), nullptr), 0);
    EXPECT_EQ(Tree(second), Tree(destination_));
    EXPECT_EQ(ReadFileText(second + L"a\\b\\c.txt"), ReadFileText(In(L"a\\b\\c.txt")));
    // No doubled separator crept into a path: nothing landed beside the folders.
    EXPECT_EQ(Tree(scratch_.path()).size(), 2 * Tree(destination_).size() + 2);
}

TEST_F(CabinetExtraction, ReadOnlyLongerFileInPlaceIsReplacedWhole) {
    std::wstring existing = In(L"readme.txt");
    WriteFileText(existing, std::string(500, 'o'));
    ASSERT_TRUE(
        SetFileAttributesW(existing.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(Extract("main.cab"), 0);
    EXPECT_EQ(ReadFileText(existing), "readme from the cabinet\n");
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
        const wchar_t* name;
        DWORD attributes;
    };
    const Expectation members[] = {
        // Stored as read-only and archive: Wine shows the archive bit on every file.
        {L"locked.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {L"exec.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},  // 0x40 dropped
        {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Expectation& member : members) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(In(member.name).c_str(), GetFileExInfoStandard, &data))
            << member.name;
        EXPECT_EQ(data.dwFileAttributes, member.attributes) << member.name;
        EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &expected), 0) << member.name;
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &expected), 0) << member.name;
    }
    EXPECT_EQ(ReadFileText(In(L"locked.txt")), "read-only member\n");
}

TEST_F(CabinetExtraction, NotACabinetExtractsNothingAndFails) {
    // Announces a next cabinet: the copy returns instead of asking for it again and again.
    Extract("next_cabinet.cab");
    RemoveTreeForTests(destination_);
    EXPECT_NE(Extract("notacab.bin"), 0);
    EXPECT_NE(Extract("no-such-file.cab"), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

TEST_F(CabinetExtraction, CabinetPathWithoutBackslashIsFoundInTheCurrentFolder) {
    std::wstring here = scratch_ / L"here";
    ASSERT_TRUE(CreateDirectoryW(here.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(FixturePath(L"extract\\cab\\main.cab").c_str(),
                          (here + L"\\local.cab").c_str(), TRUE));
    wchar_t saved[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(here.c_str()));
    int result = ExtractCabinet(Utf8(destination_).c_str(), "local.cab", nullptr);
    SetCurrentDirectoryW(saved);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(ReadFileText(In(L"readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(Tree(here), (Names{L"local.cab"}));
}

TEST_F(CabinetExtraction, MemberThatCannotBeCreatedAbortsButKeepsEarlierMembers) {
    WriteFileText(In(L"a"), "a file where the folder a should go\n");
    EXPECT_NE(Extract("main.cab"), 0);
    EXPECT_EQ(ReadFileText(In(L"readme.txt")), "readme from the cabinet\n");
    EXPECT_EQ(ReadFileText(In(L"docs\\package.properties")), "documentation properties\n");
    EXPECT_FALSE(FileExists(In(L"a\\b\\c.txt")));
}

TEST_F(CabinetExtraction, NamesLeadingOutsideAreSkippedAndLogged) {
    // The destination two levels down, so that an escape one or two levels up shows.
    std::wstring sub = scratch_ / L"sub";
    std::wstring deep = sub + L"\\dest";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    LogCapture log(scratch_ / L"captured_log.txt");
    ASSERT_EQ(ExtractCabinet(Utf8(deep).c_str(), Fixture("hostile.cab").c_str(), nullptr), 0);

    EXPECT_EQ(Tree(sub), (Names{L"dest\\", L"dest\\last.txt", L"dest\\safe.txt"}));
    EXPECT_EQ(Tree(scratch_.path()),
              (Names{L"captured_log.txt", L"dest\\", L"sub\\", L"sub\\dest\\",
                     L"sub\\dest\\last.txt", L"sub\\dest\\safe.txt"}));
    EXPECT_FALSE(FileExists(L"\\rooted3.txt"));
    EXPECT_FALSE(FileExists(L"C:\\drive4.txt"));
    EXPECT_FALSE(FileExists(L"C:\\rooted3.txt"));
    EXPECT_EQ(log.Count("leads outside the destination folder"), 6u) << log.Text();
    EXPECT_EQ(log.Count("\"a\\..\\..\\escape2.txt\""), 1u) << log.Text();
    EXPECT_EQ(log.Count("\"\\\\server\\share\\unc5.txt\""), 1u) << log.Text();
}

// A member that cannot be written under its own name leaves the cabinet incomplete.
TEST_F(CabinetExtraction, MemberPathTooLongFailsTheCabinetAndIsLogged) {
    LogCapture log(scratch_ / L"captured_log.txt");
    ClearRunFailures();
    ASSERT_NE(Extract("long.cab"), 0);
    EXPECT_EQ(Tree(destination_), (Names{L"short.txt"}));
    EXPECT_EQ(log.Count("characters Windows allows"), 1u) << log.Text();
    EXPECT_EQ(FirstRunFailure().cause, RunFailure::PathTooLong);
}

TEST_F(CabinetExtraction, DestinationOrCabinetPathTooLongIsRefused) {
    std::string longDestination = "C:\\" + std::string(kCabinetPathCapacity - 4, 'd');
    EXPECT_EQ(ExtractCabinet(longDestination.c_str(), Fixture("main.cab").c_str(), nullptr), -1);
    EXPECT_EQ(ExtractCabinet("", Fixture("main.cab").c_str(), nullptr), -1);
    EXPECT_EQ(ExtractCabinet(nullptr, Fixture("main.cab").c_str(), nullptr), -1);
    std::string longCabinet = std::string(kCabinetPathCapacity, 'c') + ".cab";
    EXPECT_NE(ExtractCabinet(Utf8(destination_).c_str(), longCabinet.c_str(), nullptr), 0);
    EXPECT_NE(ExtractCabinet(Utf8(destination_).c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(Tree(destination_), Names{});
}

// Names the library hands over unchecked, fed straight to the handler.
TEST_F(CabinetExtraction, HandlerRefusesHostileNamesAndPathsAtTheBufferEdge) {
    CabinetTarget target = {};
    std::string folder = Utf8(destination_) + "\\";
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
    EXPECT_EQ(Tree(destination_), (Names{std::wstring(name.begin(), name.end())}));
    std::string longer = name + "n";
    notification.psz1 = &longer[0];
    EXPECT_EQ(CabinetNotify(fdintCOPY_FILE, &notification), -1);
    EXPECT_EQ(Tree(destination_), (Names{std::wstring(name.begin(), name.end())}));

    // The notifications with nothing to do.
    EXPECT_EQ(CabinetNotify(fdintCABINET_INFO, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintPARTIAL_FILE, &notification), 0);
    EXPECT_EQ(CabinetNotify(fdintENUMERATE, &notification), 0);
    // A next cabinet is never looked for: -1 ends the copy (0 would retry it).
    EXPECT_EQ(CabinetNotify(fdintNEXT_CABINET, &notification), -1);
    EXPECT_EQ(CabinetNotify(fdintCOPY_FILE, nullptr), 0);
}

TEST_F(CabinetExtraction, FolderCreationMakesMissingParentsAndAlwaysEnds) {
    std::wstring nested = scratch_ / L"x\\y\\z";
    CreateFolderWithParents(Utf8(nested).c_str());
    EXPECT_TRUE(Attributes(nested) & FILE_ATTRIBUTE_DIRECTORY);

    wchar_t saved[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch_.path().c_str()));
    CreateFolderWithParents("rel\\one\\two");
    CreateFolderWithParents("");
    CreateFolderWithParents(nullptr);
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(Attributes(scratch_ / L"rel\\one\\two") & FILE_ATTRIBUTE_DIRECTORY);

    // A drive that does not exist: every level fails, and the attempt ends.
    EXPECT_EQ(CreateFolderWithParents("Q:\\velmar\\a\\b"), 0);
    // A file in the way of a folder: no folder, and the file stays as it was.
    WriteFileText(scratch_ / L"blocker", "file\n");
    EXPECT_EQ(CreateFolderWithParents(Utf8(scratch_ / L"blocker\\inner").c_str()), 0);
    EXPECT_EQ(ReadFileText(scratch_ / L"blocker"), "file\n");
}
