// The rules over names and text that need no file system: archive member
// names, DOS times, the extended timestamp block, token replacement and the
// configuration text's values.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/config_text.h"
#include "config/param_substitution.h"
#include "extract/entry_name.h"
#include "extract/zip_extra_field.h"
#include "extract/zip_time.h"
#include "test_support/fixture_file.h"

namespace {

TEST(EntryName, RelativeNamesInsideTheFolderPass) {
    for (const wchar_t* name : {L"readme.txt", L"docs/guide.txt", L"a\\b\\c.dat", L"data/maps/",
                                L"notes.zip.txt", L"a..b/c", L"...name", L"dir/.hidden", L"a//b",
                                L"console.txt", L"com10.txt", L"lpt.txt"}) {
        EXPECT_TRUE(IsEntryNameInside(name)) << std::wstring(name).size();
    }
}

TEST(EntryName, NamesLeavingTheFolderAreRefused) {
    for (const wchar_t* name : {L"",
                                L"../x",
                                L"..\\x",
                                L"a/../../x",
                                L"a\\..",
                                L"..",
                                L"/x",
                                L"\\x",
                                L"C:x",
                                L"C:\\x",
                                L"\\\\srv\\share\\x",
                                L"//srv/share/x",
                                L"a/ ../x",
                                L"a/.. /x",
                                L"a/.../x",
                                L"./x",
                                L"file.txt:stream",
                                L"NUL",
                                L"nul.txt",
                                L"dir/CON",
                                L"Com1.log",
                                L"LPT9",
                                L"aux .txt",
                                L"COM\u00b9",
                                L"lpt\u00b2.txt",
                                L"dir/COM\u00b3.log",
                                L"\\\\?\\C:\\x"}) {
        EXPECT_FALSE(IsEntryNameInside(name)) << std::wstring(name).size();
    }
    EXPECT_FALSE(IsEntryNameInside(static_cast<const wchar_t*>(nullptr)));
}

TEST(ZipTime, DosFieldsDecodeAndInvalidOnesAreRefused) {
    SYSTEMTIME time;
    // 2021-03-04 05:06:08
    ASSERT_TRUE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, (5 << 11) | (6 << 5) | 4, &time));
    EXPECT_EQ(time.wYear, 2021);
    EXPECT_EQ(time.wMonth, 3);
    EXPECT_EQ(time.wDay, 4);
    EXPECT_EQ(time.wHour, 5);
    EXPECT_EQ(time.wMinute, 6);
    EXPECT_EQ(time.wSecond, 8);
    EXPECT_EQ(time.wMilliseconds, 0);
    EXPECT_TRUE(DecodeDosDateTime((20 << 9) | (2 << 5) | 29, 0, &time));    // 2000-02-29
    EXPECT_FALSE(DecodeDosDateTime((21 << 9) | (2 << 5) | 29, 0, &time));   // 2001-02-29
    EXPECT_FALSE(DecodeDosDateTime((120 << 9) | (2 << 5) | 29, 0, &time));  // 2100: no leap day
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (0 << 5) | 4, 0, &time));    // month 0
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (4 << 5) | 31, 0, &time));   // 31 April
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, 24 << 11, &time));
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, 30, &time));  // 60 seconds

    FILETIME file = {1, 1};
    EXPECT_FALSE(ZipTimeToFileTime(0, 0, &file));  // month 0 of 1980
    EXPECT_EQ(file.dwLowDateTime | file.dwHighDateTime, 0u);
}

// An extra field built block by block: tag, size, data.
struct Field {
    std::vector<unsigned char> bytes;
    Field& Block(unsigned tag, unsigned size) {
        bytes.push_back(static_cast<unsigned char>(tag));
        bytes.push_back(static_cast<unsigned char>(tag >> 8));
        bytes.push_back(static_cast<unsigned char>(size));
        bytes.push_back(static_cast<unsigned char>(size >> 8));
        return *this;
    }
    Field& Byte(unsigned value) {
        bytes.push_back(static_cast<unsigned char>(value));
        return *this;
    }
    Field& Time(int32_t value) {
        uint32_t bits = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
        }
        return *this;
    }
};

TEST(ExtraField, NeverReadsPastTheFieldOrTheBlock) {
    Field data;
    data.Block(0x5455, 5).Byte(1).Time(42);
    EXPECT_TRUE(FindExtendedTimestamps(data.bytes.data(), data.bytes.size()).hasModification);
    for (const std::vector<unsigned char>& cut : ShorterCopies(data.bytes)) {
        EXPECT_FALSE(FindExtendedTimestamps(cut.data(), cut.size()).hasModification) << cut.size();
    }

    Field shortBlock;  // flags promise three times, the block holds one and a half
    shortBlock.Block(0x5455, 7).Byte(7).Time(1).Byte(9).Byte(9).Block(0x5455, 5).Byte(1).Time(2);
    ExtendedTimestamps times =
        FindExtendedTimestamps(shortBlock.bytes.data(), shortBlock.bytes.size());
    EXPECT_TRUE(times.hasModification);
    EXPECT_EQ(times.modification, 1);
    EXPECT_FALSE(times.hasAccess || times.hasCreation);

    Field huge;  // a size far beyond the field ends the walk
    huge.Block(0x0001, 0xFFFF).Byte(0).Block(0x5455, 5).Byte(1).Time(3);
    EXPECT_FALSE(FindExtendedTimestamps(huge.bytes.data(), huge.bytes.size()).hasModification);
    EXPECT_FALSE(FindExtendedTimestamps(nullptr, 20).hasModification);
}

struct Replacement {
    const wchar_t* text;
    const wchar_t* token;
    const wchar_t* value;
    const wchar_t* expected;
};

// Left to right, no overlap, and never over what was inserted.
TEST(ReplaceAllOccurrences, MatchesLeftToRightWithoutOverlapOrRescan) {
    const Replacement cases[] = {
        {L"a%locl%b", L"%locl%", L"", L"ab"},                      // empty value removes
        {L"%locl%%locl%", L"%locl%", L"en", L"enen"},              // adjacent
        {L"%locl%mid%locl%", L"%locl%", L"en", L"enmiden"},        // start and end
        {L"%LOCL% %locl%", L"%locl%", L"en", L"%LOCL% en"},        // case-sensitive
        {L"x%locl%y", L"%locl%", L"[%locl%]", L"x[%locl%]y"},      // value holds the token
        {L"%a%a%", L"%a%", L"X", L"Xa%"},                          // overlapping candidates
        {L"", L"%locl%", L"en", L""},                              // empty text
        {L"no tokens here", L"%locl%", L"en", L"no tokens here"},  // absent
        {L"%locl", L"%locl%", L"en", L"%locl"},                    // unfinished token
        {L"abc", L"", L"X", L"abc"},                               // empty token matches nothing
    };
    for (const Replacement& c : cases) {
        EXPECT_EQ(ReplaceAllOccurrences(c.text, c.token, c.value), c.expected)
            << "text " << testing::PrintToString(std::wstring(c.text));
    }
}

TEST(ConfigText, LocalFolderUrlFormFollowsTheChosenClient) {
    EXPECT_EQ(LocalFolderUrl(true, L"C:/Temp/pkg"), L"file://C:/Temp/pkg");
    EXPECT_EQ(LocalFolderUrl(false, L"C:/Temp/pkg"), L"file:///C:/Temp/pkg");
    // ".pbcf" elsewhere in the path plays no part.
    EXPECT_EQ(LocalFolderUrl(false, L"C:/a.pbcf.d"), L"file:///C:/a.pbcf.d");
}

TEST(ConfigText, ToForwardSlashesCopiesWithEverySeparatorTurned) {
    std::unique_ptr<wchar_t[]> slashed(ToForwardSlashes(L"C:\\Temp\\my pkg\\\\ä"));
    ASSERT_NE(slashed, nullptr);
    EXPECT_STREQ(slashed.get(), L"C:/Temp/my pkg//ä");
    EXPECT_EQ(ToForwardSlashes(nullptr), nullptr);
}

TEST(ConfigText, EventNameLosesOnlyItsFinalLineEnd) {
    EXPECT_EQ(EventNameFromText(L"eventname=Spring Review\n"), L"Spring Review");
    EXPECT_EQ(EventNameFromText(L"eventname=Spring Review\r\n"), L"Spring Review");
    EXPECT_EQ(EventNameFromText(L"k=Spring"), L"Spring");
    EXPECT_EQ(EventNameFromText(L"k=Spring\r"), L"Spring");
    EXPECT_EQ(EventNameFromText(L"a=b=c\n"), L"b=c");
    EXPECT_EQ(EventNameFromText(L"k=X\nother=Y\n"), L"X\nother=Y");
    EXPECT_EQ(EventNameFromText(L"k=X\n\n"), L"X\n");
    EXPECT_EQ(EventNameFromText(L"=lead\n"), L"lead");
    EXPECT_EQ(EventNameFromText(L"k=\n"), L"");
    EXPECT_EQ(EventNameFromText(L"no equals sign\n"), L"");
    EXPECT_EQ(EventNameFromText(L""), L"");
}

TEST(ConfigText, WorkingTextIsTwiceTheTextOrWhatTheLargestStepNeeds) {
    ConfigTokenList small = ConfigTokens(L"file://C:/W", L"US", L"", L"en");
    EXPECT_EQ(WorkingTextCapacity(L"url=%local%", small), 24u);  // n = 12

    // Each step must fit, not only the last: %eventname% grows first, then shrinks away.
    ConfigTokenList growing = ConfigTokens(L"", L"", std::wstring(60, L'x') + L"%locl%", L"");
    EXPECT_EQ(WorkingTextCapacity(L"%eventname%", growing), 67u);
}

}  // namespace
