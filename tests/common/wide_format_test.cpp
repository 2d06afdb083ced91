#include "common/wide_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

// The program's formats follow the Windows rule: "%s" takes a wide string.
TEST(WideFormat, PercentSTakesAWideString) {
    wchar_t out[64];
    ASSERT_EQ(FormatWide(out, 64, L"[%s] %d", L"wide text", 42), 14);
    EXPECT_STREQ(out, L"[wide text] 42");
    EXPECT_EQ(FormatWideString(L"%s=%s", L"key", L"value"), L"key=value");
}

// What the build would do without the project's formatting: mingw's C++ headers
// give the standard names the C99 rule, where "%s" in a wide format is narrow.
TEST(WideFormat, StandardSwprintfWouldMisreadWideStrings) {
    wchar_t out[64] = {};
    swprintf(out, 64, L"%s", reinterpret_cast<const wchar_t*>(L"wide"));
    EXPECT_STRNE(out, L"wide");
}

TEST(WideFormat, CutResultsAreTerminatedAndReported) {
    wchar_t out[5];
    EXPECT_EQ(FormatWide(out, 5, L"%s", L"abcdefgh"), -1);
    EXPECT_EQ(std::wcslen(out), 4u);
    EXPECT_EQ(FormatWide(out, 5, L"%s", L"abcd"), 4);
    EXPECT_STREQ(out, L"abcd");
}

TEST(WideFormat, LongResultsGrowTheirString) {
    std::wstring big(5000, L'x');
    EXPECT_EQ(FormatWideString(L"<%s>", big.c_str()).size(), 5002u);
}
