#include "extract/cabinet_member.h"

#include <gtest/gtest.h>

TEST(CabinetMember, PackagePropertiesIsSkippedOnlyAtTopLevel) {
    EXPECT_FALSE(IsCabinetMemberSelected("package.properties", nullptr));
    EXPECT_FALSE(IsCabinetMemberSelected("PACKAGE.Properties", nullptr));
    EXPECT_TRUE(IsCabinetMemberSelected("docs\\package.properties", nullptr));
    EXPECT_TRUE(IsCabinetMemberSelected("package.properties.bak", nullptr));
    EXPECT_TRUE(IsCabinetMemberSelected("readme.txt", nullptr));
}

TEST(CabinetMember, OneFileModeMatchesTheWholeNameInAnyAsciiCase) {
    EXPECT_TRUE(IsCabinetMemberSelected("package.properties", "package.properties"));
    EXPECT_TRUE(IsCabinetMemberSelected("Docs\\Guide.TXT", "docs\\guide.txt"));
    EXPECT_FALSE(IsCabinetMemberSelected("docs\\guide.txt", "guide.txt"));
    EXPECT_FALSE(IsCabinetMemberSelected("guide.txt", "guide.txt2"));
    EXPECT_FALSE(IsCabinetMemberSelected("guide.txt2", "guide.txt"));
    EXPECT_FALSE(IsCabinetMemberSelected(nullptr, "guide.txt"));
}

TEST(CabinetMember, CaseFoldingIsAsciiOnly) {
    // 0xC9 and 0xE9 are E-acute in upper and lower case in Western code pages;
    // only ASCII letters are folded.
    EXPECT_TRUE(SameNameIgnoringAsciiCase("ABC", "abc"));
    EXPECT_FALSE(SameNameIgnoringAsciiCase("\xC9t\xE9", "\xE9t\xE9"));
    EXPECT_FALSE(SameNameIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by 0x20 too
}

// Wine drops unknown attribute bits by itself, so the mask is checked here.
TEST(CabinetMember, OnlyReadOnlyHiddenSystemAndArchiveAreKept) {
    EXPECT_EQ(MemberFileAttributes(0x61), 0x21u);  // execute bit dropped
    EXPECT_EQ(MemberFileAttributes(0xFF), 0x27u);
    EXPECT_EQ(MemberFileAttributes(0x01), 0x01u);
    EXPECT_EQ(MemberFileAttributes(0x18), 0x80u);  // folder and volume bits are not for files
    EXPECT_EQ(MemberFileAttributes(0xC0), 0x80u);
    EXPECT_EQ(MemberFileAttributes(0x00), 0x80u);
}
