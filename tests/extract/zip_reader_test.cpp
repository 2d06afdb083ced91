#include "extract/zip_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "extract/zip_test_support.h"

namespace {

class ZipReaderTest : public ExtractionFolder {
  protected:
    void TearDown() override {
        if (reader_ != nullptr) {
            CloseZipArchive(reader_);
        }
        ExtractionFolder::TearDown();
    }

    ZipReader* Open(const wchar_t* fixture) {
        reader_ = OpenZipArchive(ZipFixture(fixture).c_str());
        return reader_;
    }

    // Index of the entry with this name, -1 when there is none.
    int Find(const std::wstring& name) {
        ZipEntryInfo count = {};
        if (ReadEntryInfo(reader_, -1, &count) != ZipOk) {
            return -1;
        }
        for (int i = 0; i < count.entryIndex; ++i) {
            ZipEntryInfo info = {};
            if (ReadEntryInfo(reader_, i, &info) == ZipOk && name == info.entryName) {
                return i;
            }
        }
        return -1;
    }

    ZipEntryInfo Info(const std::wstring& name) {
        ZipEntryInfo info = {};
        int index = Find(name);
        EXPECT_GE(index, 0) << "no entry " << std::string(name.begin(), name.end());
        EXPECT_EQ(ReadEntryInfo(reader_, index, &info), ZipOk);
        return info;
    }

    ZipResult Extract(const std::wstring& name) {
        int index = Find(name);
        EXPECT_GE(index, 0);
        return ExtractEntryToFile(reader_, index, name.c_str());
    }

    ZipReader* reader_ = nullptr;
};

TEST_F(ZipReaderTest, OpenRefusesWhatIsNoArchive) {
    EXPECT_EQ(OpenZipArchive(ZipFixture(L"no_such.zip").c_str()), nullptr);
    ASSERT_TRUE(WriteFileText(Work(L"text.zip"), "not a zip archive at all"));
    EXPECT_EQ(OpenZipArchive(Work(L"text.zip").c_str()), nullptr);
    EXPECT_EQ(OpenZipArchive(work_.c_str()), nullptr);  // a folder
    EXPECT_EQ(OpenZipArchive(nullptr), nullptr);
    EXPECT_EQ(CloseZipArchive(nullptr), ZipBadArgument);
}

TEST_F(ZipReaderTest, RootFolderIsTheCurrentDirectoryAtOpening) {
    ASSERT_NE(Open(L"data.zip"), nullptr);
    ASSERT_TRUE(CreateDirectoryW(Work(L"elsewhere").c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryW(Work(L"elsewhere").c_str()));
    EXPECT_EQ(Extract(L"empty.txt"), ZipOk);
    EXPECT_TRUE(FileExists(Work(L"empty.txt")));
}

TEST_F(ZipReaderTest, CountRecordAndIndexBounds) {
    ASSERT_NE(Open(L"empty.zip"), nullptr);
    ZipEntryInfo info;
    std::memset(&info, 0x5A, sizeof(info));
    ASSERT_EQ(ReadEntryInfo(reader_, -1, &info), ZipOk);
    EXPECT_EQ(info.entryIndex, 0);
    EXPECT_EQ(info.entryName[0], L'\0');
    EXPECT_EQ(info.fileAttributes, 0u);
    EXPECT_EQ(Ticks(info.lastWriteTime) | Ticks(info.creationTime) | Ticks(info.lastAccessTime),
              0u);
    EXPECT_EQ(info.packedSize | info.unpackedSize, 0u);
    EXPECT_EQ(ReadEntryInfo(reader_, 0, &info), ZipBadArgument);
    EXPECT_EQ(ExtractEntryToFile(reader_, 0, L"x"), ZipBadArgument);
    CloseZipArchive(reader_);
    ASSERT_NE(Open(L"empty_comment.zip"), nullptr);
    ASSERT_EQ(ReadEntryInfo(reader_, -1, &info), ZipOk);
    EXPECT_EQ(info.entryIndex, 0);
    CloseZipArchive(reader_);

    ASSERT_NE(Open(L"data.zip"), nullptr);
    ASSERT_EQ(ReadEntryInfo(reader_, -1, &info), ZipOk);
    EXPECT_EQ(info.entryIndex, 9);
    ZipEntryInfo untouched;
    std::memset(&untouched, 0x33, sizeof(untouched));
    ZipEntryInfo probe = untouched;
    EXPECT_EQ(ReadEntryInfo(reader_, 9, &probe), ZipBadArgument);
    EXPECT_EQ(ReadEntryInfo(reader_, -2, &probe), ZipBadArgument);
    EXPECT_EQ(std::memcmp(&probe, &untouched, sizeof(probe)), 0);
    EXPECT_EQ(ReadEntryInfo(nullptr, 0, &probe), ZipBadArgument);
    EXPECT_EQ(ReadEntryInfo(reader_, 0, nullptr), ZipBadArgument);
    EXPECT_EQ(ExtractEntryToFile(reader_, 9, L"x"), ZipBadArgument);
    EXPECT_EQ(ExtractEntryToFile(reader_, -1, L"x"), ZipBadArgument);
    EXPECT_EQ(ExtractEntryToFile(nullptr, 0, L"x"), ZipBadArgument);
    EXPECT_TRUE(FolderNames(work_).empty());
}

TEST_F(ZipReaderTest, AscendingWalkNeverRestartsAndOutOfOrderReadsStillWork) {
    ASSERT_NE(Open(L"data.zip"), nullptr);
    ZipEntryInfo info;
    for (int i = 0; i < 9; ++i) {
        // Extraction right after the read of the same index, as the driver does.
        if (ReadEntryInfo(reader_, i, &info) == ZipOk) {
            EXPECT_EQ(info.entryIndex, i);
            ExtractEntryToFile(reader_, i, info.entryName);
        }
    }
    EXPECT_EQ(ZipReaderRestarts(reader_), 0u);
    ASSERT_EQ(ReadEntryInfo(reader_, 1, &info), ZipOk);
    EXPECT_STREQ(info.entryName, L"deflated_big.bin");
    EXPECT_EQ(ZipReaderRestarts(reader_), 1u);
    ASSERT_EQ(ReadEntryInfo(reader_, 0, &info), ZipOk);
    EXPECT_STREQ(info.entryName, L"stored_big.bin");
    ASSERT_EQ(ReadEntryInfo(reader_, 8, &info), ZipOk);
    EXPECT_STREQ(info.entryName, L"x/y/inside.txt");
}

TEST_F(ZipReaderTest, AttributesFollowTheHostSystem) {
    ASSERT_NE(Open(L"attributes.zip"), nullptr);
    const std::map<std::wstring, uint32_t> expected = {
        {L"fat_archive_readonly.txt", 0x21},
        {L"fat_plain.txt", 0x00},
        {L"fat_hidden_system.txt", 0x26},
        {L"fat_extra_bits.txt", 0x20},
        {L"mac_readonly.txt", 0x01},
        {L"ntfs_hidden.txt", 0x22},
        {L"vfat_system.txt", 0x24},
        {L"ntfs_folder/", 0x10},
        {L"unix_rw.txt", 0x20},
        {L"unix_ro.txt", 0x21},
        {L"unix_dos_bits.txt", 0x20},
        {L"unix_folder/", 0x30},
        {L"other_host.txt", 0x21},
        {L"unix_zero.txt", 0x21},
    };
    for (const auto& item : expected) {
        EXPECT_EQ(Info(item.first).fileAttributes, item.second)
            << std::string(item.first.begin(), item.first.end());
    }
}

TEST_F(ZipReaderTest, WrittenFilesCarryTheirAttributes) {
    ASSERT_NE(Open(L"attributes.zip"), nullptr);
    for (const wchar_t* name : {L"fat_archive_readonly.txt", L"fat_hidden_system.txt",
                                L"unix_rw.txt", L"unix_ro.txt", L"fat_plain.txt"}) {
        ASSERT_EQ(Extract(name), ZipOk);
    }
    EXPECT_EQ(GetFileAttributesW(Work(L"fat_archive_readonly.txt").c_str()), 0x21u);
    EXPECT_EQ(GetFileAttributesW(Work(L"fat_hidden_system.txt").c_str()), 0x26u);
    EXPECT_EQ(GetFileAttributesW(Work(L"unix_rw.txt").c_str()), 0x20u);
    EXPECT_EQ(GetFileAttributesW(Work(L"unix_ro.txt").c_str()), 0x21u);
    // No bit at all: a plain file (the platform may add the archive bit itself).
    EXPECT_EQ(GetFileAttributesW(Work(L"fat_plain.txt").c_str()) & 0x17u, 0u);

    // A later archive's entry replaces them, read-only, hidden and system ones too.
    EXPECT_EQ(Extract(L"unix_rw.txt"), ZipOk);
    EXPECT_EQ(Extract(L"unix_ro.txt"), ZipOk);
    EXPECT_EQ(Extract(L"fat_hidden_system.txt"), ZipOk);
    EXPECT_EQ(GetFileAttributesW(Work(L"unix_ro.txt").c_str()), 0x21u);
}

TEST_F(ZipReaderTest, DosTimesAreLocalTimeConvertedToUtc) {
    // Meaningful only where local time is not UTC: the tests run in Asia/Kolkata,
    // where 2021-03-04 05:06:08 is 2021-03-03 23:36:08 UTC.
    ASSERT_EQ(FixtureDosTicks(), UnixTicks(1614814568)) << "expected the Asia/Kolkata time zone";
    ASSERT_NE(Open(L"times.zip"), nullptr);
    ZipEntryInfo info = Info(L"dos_only.txt");
    EXPECT_EQ(Ticks(info.lastWriteTime), FixtureDosTicks());
    EXPECT_EQ(Ticks(info.lastAccessTime), FixtureDosTicks());
    EXPECT_EQ(Ticks(info.creationTime), FixtureDosTicks());
}

TEST_F(ZipReaderTest, ExtendedTimestampBlocks) {
    const uint64_t dos = FixtureDosTicks();
    const uint64_t modified = UnixTicks(1600000000);
    const uint64_t accessed = UnixTicks(1500000000);
    const uint64_t created = UnixTicks(1400000000);
    struct Case {
        const wchar_t* name;
        uint64_t write, access, creation;
    };
    const Case cases[] = {
        {L"ut_mtime.txt", modified, dos, dos},
        {L"ut_all.txt", modified, accessed, created},
        {L"ut_flags_short.txt", modified, dos, dos},  // flags promise more than the block holds
        {L"ut_after_other.txt", modified, dos, dos},  // found behind another block
        {L"ut_twice.txt", modified, dos, dos},        // only the first block counts
        {L"ut_negative.txt", UnixTicks(-31536000), dos, dos},
        {L"ut_access_only.txt", dos, accessed, dos},
        {L"ut_no_flags_data.txt", dos, dos, dos},
        {L"extra_four_bytes.txt", dos, dos, dos},  // a 4-byte field is not searched
    };
    ASSERT_NE(Open(L"times.zip"), nullptr);
    for (const Case& c : cases) {
        ZipEntryInfo info = Info(c.name);
        EXPECT_EQ(Ticks(info.lastWriteTime), c.write) << std::wstring(c.name).size();
        EXPECT_EQ(Ticks(info.lastAccessTime), c.access) << std::wstring(c.name).size();
        EXPECT_EQ(Ticks(info.creationTime), c.creation) << std::wstring(c.name).size();
    }
}

TEST_F(ZipReaderTest, FileTimesAreSetOnTheWrittenFile) {
    ASSERT_NE(Open(L"times.zip"), nullptr);
    ASSERT_EQ(Extract(L"ut_all.txt"), ZipOk);
    ASSERT_EQ(Extract(L"dos_only.txt"), ZipOk);
    FileTimes times;
    bool creationKept = PlatformKeepsCreationTime(outer());
    ASSERT_TRUE(ReadFileTimes(Work(L"ut_all.txt"), &times));
    EXPECT_EQ(times.write, UnixTicks(1600000000));
    EXPECT_EQ(times.access, UnixTicks(1500000000));
    if (creationKept) {
        EXPECT_EQ(times.creation, UnixTicks(1400000000));
    }
    ASSERT_TRUE(ReadFileTimes(Work(L"dos_only.txt"), &times));
    EXPECT_EQ(times.write, FixtureDosTicks());
    EXPECT_EQ(times.access, FixtureDosTicks());
    if (creationKept) {
        EXPECT_EQ(times.creation, FixtureDosTicks());
    } else {
        std::printf("note: this file system keeps no creation time; checked in the record only\n");
    }
}

TEST_F(ZipReaderTest, InvalidDosDatesLeaveTimesUnknownAndTheFileItsOwn) {
    ASSERT_NE(Open(L"times.zip"), nullptr);
    for (const wchar_t* name : {L"invalid_month.txt", L"invalid_day.txt", L"invalid_seconds.txt"}) {
        ZipEntryInfo info = Info(name);
        EXPECT_EQ(Ticks(info.lastWriteTime) | Ticks(info.lastAccessTime) | Ticks(info.creationTime),
                  0u);
    }
    EXPECT_EQ(Ticks(Info(L"invalid_with_ut.txt").lastWriteTime), UnixTicks(1600000000));

    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(Extract(L"invalid_month.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"invalid_month.txt")), "m0");
    FileTimes times;
    ASSERT_TRUE(ReadFileTimes(Work(L"invalid_month.txt"), &times));
    // Written just now, not 1601 or some invented date.
    EXPECT_GE(times.write + 20000000ULL, Ticks(before));
}

TEST_F(ZipReaderTest, StoredAndDeflatedContentIsWrittenExactly) {
    ASSERT_NE(Open(L"data.zip"), nullptr);
    std::vector<unsigned char> stored(50000);
    for (size_t i = 0; i < stored.size(); ++i) {
        stored[i] = static_cast<unsigned char>((i * 7 + i / 256) % 251);
    }
    std::vector<unsigned char> random(40000);
    for (size_t i = 0; i < random.size(); ++i) {
        random[i] = static_cast<unsigned char>((i * 13 + i / 256) % 251);
    }
    std::string words = "velmar playback archive entry data ";
    std::string text;
    while (text.size() < 70000) {
        text += words;
    }
    text.resize(70000);

    ZipEntryInfo info = Info(L"deflated_big.bin");
    EXPECT_EQ(info.unpackedSize, 70000u);
    EXPECT_LT(info.packedSize, 70000u);
    for (const wchar_t* name : {L"stored_big.bin", L"deflated_big.bin", L"deflated_random.bin",
                                L"empty.txt", L"empty_deflated.txt"}) {
        ASSERT_EQ(Extract(name), ZipOk);
    }
    EXPECT_EQ(ReadFileBytes(Work(L"stored_big.bin")), stored);
    EXPECT_EQ(ReadFileText(Work(L"deflated_big.bin")), text);
    EXPECT_EQ(ReadFileBytes(Work(L"deflated_random.bin")), random);
    EXPECT_TRUE(FileExists(Work(L"empty.txt")));
    EXPECT_TRUE(ReadFileBytes(Work(L"empty_deflated.txt")).empty());
}

TEST_F(ZipReaderTest, OtherMethodsAndMissingFoldersFail) {
    ASSERT_NE(Open(L"data.zip"), nullptr);
    ZipEntryInfo info;
    EXPECT_EQ(ReadEntryInfo(reader_, 5, &info), ZipHeaderError);  // bzip2
    EXPECT_EQ(ExtractEntryToFile(reader_, 5, L"bzip2.txt"), ZipHeaderError);
    EXPECT_FALSE(FileExists(Work(L"bzip2.txt")));
    EXPECT_EQ(Extract(L"missing_folder/file.txt"), ZipFileError);
}

TEST_F(ZipReaderTest, DirectoryEntriesCreateTheirFoldersOnly) {
    ASSERT_NE(Open(L"data.zip"), nullptr);
    ASSERT_EQ(ExtractEntryToFile(reader_, Find(L"x/y/"), L"destination is not used"), ZipOk);
    EXPECT_EQ(GetFileAttributesW(Work(L"x\\y").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(FolderNames(work_), std::vector<std::wstring>{L"x"});
    EXPECT_EQ(FolderNames(Work(L"x")), std::vector<std::wstring>{L"y"});
    EXPECT_TRUE(FolderNames(Work(L"x\\y")).empty());
    ASSERT_EQ(Extract(L"x/y/inside.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"x\\y\\inside.txt")), "inside x/y");
}

TEST_F(ZipReaderTest, CreateEntryFoldersMakesEveryParentAndRefusesLongPaths) {
    std::wstring root = work_ + L"\\";
    EXPECT_TRUE(CreateEntryFolders(root.c_str(), L"a/b\\c/"));
    EXPECT_TRUE(FileExists(Work(L"a\\b\\c")));
    EXPECT_TRUE(CreateEntryFolders(root.c_str(), L""));
    std::wstring longName(260 - root.size(), L'q');
    EXPECT_FALSE(CreateEntryFolders(root.c_str(), longName.c_str()));
    EXPECT_EQ(FolderNames(work_), std::vector<std::wstring>{L"a"});
}

TEST_F(ZipReaderTest, DamagedContentIsReportedAsDataError) {
    ASSERT_NE(Open(L"damaged.zip"), nullptr);
    EXPECT_EQ(Extract(L"good_first.txt"), ZipOk);
    EXPECT_EQ(Extract(L"bad_crc.txt"), ZipDataError);
    EXPECT_EQ(Extract(L"bad_crc_deflated.txt"), ZipDataError);
    EXPECT_EQ(Extract(L"short_content.txt"), ZipDataError);
    EXPECT_EQ(Extract(L"long_content.txt"), ZipDataError);
    // Never more than the declared size reaches the disk.
    EXPECT_LE(ReadFileBytes(Work(L"long_content.txt")).size(), 1000u);
    EXPECT_EQ(Extract(L"good_last.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"good_last.txt")), "good last");
}

TEST_F(ZipReaderTest, LocalHeadersThatDisagreeFailWithoutWriting) {
    ASSERT_NE(Open(L"bad_local.zip"), nullptr);
    ZipEntryInfo info = {};
    ASSERT_EQ(ReadEntryInfo(reader_, 0, &info), ZipOk);
    ZipEntryInfo kept = info;
    EXPECT_EQ(ReadEntryInfo(reader_, 1, &info), ZipHeaderError);
    EXPECT_EQ(ReadEntryInfo(reader_, 2, &info), ZipHeaderError);
    EXPECT_EQ(std::memcmp(&info, &kept, sizeof(info)), 0);
    EXPECT_EQ(ExtractEntryToFile(reader_, 1, L"mismatch.zip"), ZipHeaderError);
    EXPECT_EQ(ExtractEntryToFile(reader_, 2, L"nosignature.txt"), ZipHeaderError);
    ASSERT_EQ(ReadEntryInfo(reader_, 3, &info), ZipOk);
    EXPECT_STREQ(info.entryName, L"last.txt");
    EXPECT_TRUE(FolderNames(work_).empty());

    CloseZipArchive(reader_);
    ASSERT_NE(Open(L"bad_extra.zip"), nullptr);
    EXPECT_EQ(ReadEntryInfo(reader_, 1, &info), ZipExtraFieldError);
    EXPECT_EQ(ExtractEntryToFile(reader_, 1, L"unreadable_extra.txt"), ZipExtraFieldError);
    EXPECT_EQ(ExtractEntryToFile(reader_, 0, L"first.txt"), ZipOk);
    EXPECT_EQ(FolderNames(work_), std::vector<std::wstring>{L"first.txt"});
}

TEST_F(ZipReaderTest, UnreadableDirectoryRecordEndsTheReachableEntries) {
    ASSERT_NE(Open(L"bad_directory.zip"), nullptr);
    ZipEntryInfo info;
    ASSERT_EQ(ReadEntryInfo(reader_, -1, &info), ZipOk);
    EXPECT_EQ(info.entryIndex, 3);
    ASSERT_EQ(ReadEntryInfo(reader_, 0, &info), ZipOk);
    EXPECT_EQ(ReadEntryInfo(reader_, 1, &info), ZipHeaderError);
    EXPECT_EQ(ReadEntryInfo(reader_, 2, &info), ZipHeaderError);
    EXPECT_EQ(ExtractEntryToFile(reader_, 2, L"third.txt"), ZipHeaderError);
    // What was reachable stays reachable.
    ASSERT_EQ(ExtractEntryToFile(reader_, 0, L"first.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"first.txt")), "first");
}

TEST_F(ZipReaderTest, EncryptedEntriesOpenWithTheEmptyPassword) {
    ASSERT_NE(Open(L"encrypted.zip"), nullptr);
    ASSERT_EQ(Extract(L"secret_stored.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"secret_stored.txt")), "stored secret content\n");
    ASSERT_EQ(Extract(L"secret_descriptor.txt"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"secret_descriptor.txt")), "descriptor secret\n");
    ASSERT_EQ(Extract(L"secret_deflated.txt"), ZipOk);
    std::string words = "velmar playback archive entry data ";
    std::string text;
    while (text.size() < 40000) {
        text += words;
    }
    text.resize(40000);
    EXPECT_EQ(ReadFileText(Work(L"secret_deflated.txt")), text);
    FileTimes times;
    ASSERT_TRUE(ReadFileTimes(Work(L"secret_deflated.txt"), &times));
    EXPECT_EQ(times.write, FixtureDosTicks());
}

TEST_F(ZipReaderTest, WrongPasswordFailsBeforeAnyByteIsWritten) {
    ASSERT_NE(Open(L"encrypted.zip"), nullptr);
    EXPECT_EQ(Extract(L"wrong_password.txt"), ZipPasswordError);
    EXPECT_TRUE(FileExists(Work(L"wrong_password.txt")));
    EXPECT_TRUE(ReadFileBytes(Work(L"wrong_password.txt")).empty());
    EXPECT_EQ(Extract(L"plain.txt"), ZipOk);
}

TEST_F(ZipReaderTest, NamesFlaggedUtf8AreDecodedAsUtf8OthersAsAnsi) {
    ASSERT_NE(Open(L"names.zip"), nullptr);
    EXPECT_GE(Find(L"Pr\u00e4sentation.pdf"), 0);
    ASSERT_EQ(Extract(L"Pr\u00e4sentation.pdf"), ZipOk);
    EXPECT_EQ(ReadFileText(Work(L"Pr\u00e4sentation.pdf")), "utf-8 name");

    // Unflagged: the ANSI code page, whatever it is here.
    const char ansi[] = {'P', 'r', static_cast<char>(0xE4),
                         's', 'e', 'n',
                         't', 'a', 't',
                         'i', 'o', 'n',
                         '_', 'a', 'n',
                         's', 'i', '.',
                         't', 'x', 't',
                         '\0'};
    wchar_t expected[64] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, ansi, -1, expected, 64), 0);
    ZipEntryInfo info;
    ASSERT_EQ(ReadEntryInfo(reader_, 1, &info), ZipOk);
    EXPECT_STREQ(info.entryName, expected);
}

TEST_F(ZipReaderTest, UnusableNamesAreRefused) {
    ASSERT_NE(Open(L"names.zip"), nullptr);
    ZipEntryInfo info;
    EXPECT_EQ(ReadEntryInfo(reader_, 2, &info), ZipHeaderError);  // invalid UTF-8
    EXPECT_EQ(ReadEntryInfo(reader_, 3, &info), ZipHeaderError);  // NUL inside the name
    ASSERT_EQ(ReadEntryInfo(reader_, 4, &info), ZipOk);           // 259 bytes: fits the record
    EXPECT_EQ(std::wstring(info.entryName).size(), 259u);
    EXPECT_EQ(ExtractEntryToFile(reader_, 4, info.entryName), ZipFileError);  // path too long
    EXPECT_EQ(ReadEntryInfo(reader_, 5, &info), ZipHeaderError);              // 260 bytes
    EXPECT_TRUE(FolderNames(work_).empty());
}

TEST_F(ZipReaderTest, NamesLeavingTheRootAreNotWritten) {
    ASSERT_NE(Open(L"names.zip"), nullptr);
    ZipEntryInfo count;
    ASSERT_EQ(ReadEntryInfo(reader_, -1, &count), ZipOk);
    int hostile = 0;
    for (int i = 6; i < count.entryIndex; ++i) {
        ZipEntryInfo info;
        ASSERT_EQ(ReadEntryInfo(reader_, i, &info), ZipOk);
        EXPECT_EQ(ExtractEntryToFile(reader_, i, info.entryName), ZipFileError) << i;
        ++hostile;
    }
    EXPECT_EQ(hostile, 9);
    // A safe entry under a hostile destination name is refused just the same.
    EXPECT_EQ(ExtractEntryToFile(reader_, 0, L"..\\redirected.txt"), ZipFileError);
    EXPECT_TRUE(FolderNames(work_).empty());
    EXPECT_TRUE(Escaped().empty());
    EXPECT_FALSE(FileExists(L"C:\\evil7.txt"));
}

}  // namespace
