#include "extract/cabinet_paths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string Parent(const char* path) {
    std::unique_ptr<char[]> parent = GetParentPath(path);
    return parent != nullptr ? std::string(parent.get()) : std::string("<null>");
}

}  // namespace

TEST(CabinetPaths, ParentPathCutsAtTheLastBackslash) {
    EXPECT_EQ(Parent("C:\\dest\\a\\b\\c.txt"), "C:\\dest\\a\\b");
    EXPECT_EQ(Parent("C:\\a"), "C:");
    EXPECT_EQ(Parent("C:\\a\\"), "C:\\a");
    EXPECT_EQ(Parent("a\\b"), "a");
    // No backslash after the first character: nothing is left.
    EXPECT_EQ(Parent("abc"), "");
    EXPECT_EQ(Parent("\\abc"), "");
    EXPECT_EQ(Parent("x"), "");
    EXPECT_EQ(Parent(""), "");
}

TEST(CabinetPaths, DestinationAlwaysEndsInOneBackslash) {
    char out[kCabinetPathCapacity];
    ASSERT_TRUE(FormDestinationFolder("C:\\work", out));
    EXPECT_STREQ(out, "C:\\work\\");
    ASSERT_TRUE(FormDestinationFolder("C:\\work\\", out));
    EXPECT_STREQ(out, "C:\\work\\");
    EXPECT_FALSE(FormDestinationFolder("", out));
    EXPECT_FALSE(FormDestinationFolder(nullptr, out));
}

TEST(CabinetPaths, DestinationMustLeaveRoomForTheBackslash) {
    char out[kCabinetPathCapacity];
    std::string folder = "C:\\" + std::string(kCabinetPathCapacity - 5, 'd');  // 258 bytes
    ASSERT_TRUE(FormDestinationFolder(folder.c_str(), out));
    EXPECT_EQ(std::string(out), folder + "\\");
    folder += "d";  // 259 bytes: with the backslash it no longer fits
    EXPECT_FALSE(FormDestinationFolder(folder.c_str(), out));
    EXPECT_STREQ(out, "");
    std::string endsInSeparator = folder.substr(1) + "\\";  // 259 bytes, kept as it is
    ASSERT_TRUE(FormDestinationFolder(endsInSeparator.c_str(), out));
    EXPECT_EQ(std::string(out), endsInSeparator);
}

TEST(CabinetPaths, CabinetPathSplitsIntoFolderAndName) {
    char folder[kCabinetPathCapacity];
    char name[kCabinetPathCapacity];
    ASSERT_TRUE(SplitCabinetPath("C:\\work\\nested\\data.cab", folder, name));
    EXPECT_STREQ(folder, "C:\\work\\nested\\");
    EXPECT_STREQ(name, "data.cab");
    ASSERT_TRUE(SplitCabinetPath("data.cab", folder, name));
    EXPECT_STREQ(folder, "");
    EXPECT_STREQ(name, "data.cab");
    ASSERT_TRUE(SplitCabinetPath("C:\\work\\", folder, name));
    EXPECT_STREQ(folder, "C:\\work\\");
    EXPECT_STREQ(name, "");
}

TEST(CabinetPaths, CabinetPartsThatDoNotFitAreRefused) {
    char folder[kCabinetPathCapacity];
    char name[kCabinetPathCapacity];
    std::string longName(kCabinetPathCapacity, 'n');
    EXPECT_FALSE(SplitCabinetPath(longName.c_str(), folder, name));
    EXPECT_STREQ(name, "");
    std::string longFolder = std::string(kCabinetPathCapacity, 'f') + "\\x.cab";
    EXPECT_FALSE(SplitCabinetPath(longFolder.c_str(), folder, name));
    EXPECT_STREQ(folder, "");
}

TEST(CabinetPaths, MemberPathUsesBackslashesOnly) {
    char out[kCabinetPathCapacity];
    ASSERT_TRUE(JoinMemberPath("C:\\dest\\", "docs/sub\\guide.txt", out));
    EXPECT_STREQ(out, "C:\\dest\\docs\\sub\\guide.txt");
}
