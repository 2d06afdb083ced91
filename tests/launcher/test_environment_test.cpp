// The unit tests must run the way users run the launcher: as an ordinary user
// (root under Wine ignores read-only attributes) in a time zone that is not UTC.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "test_support/scratch_folder.h"

TEST(TestEnvironment, ReadOnlyFilesRefuseWritingAsOnWindows) {
    ScratchFolder scratch(L"env");
    std::wstring path = scratch.path() + L"\\read-only.txt";
    ASSERT_TRUE(WriteFileText(path, "data"));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(file.valid()) << "running as root? read-only attributes are ignored";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(TestEnvironment, LocalTimeIsNotUtc) {
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_NE(zone.Bias, 0);
}
