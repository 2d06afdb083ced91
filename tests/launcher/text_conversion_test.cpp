#include "launcher/text_conversion.h"

#include <gtest/gtest.h>

TEST(TextConversion, Utf8RoundTripKeepsLettersBeyondAscii) {
    std::wstring wide;
    ASSERT_TRUE(WideFromCodePage(CP_UTF8, "Pr\xC3\xA4sentation", MB_ERR_INVALID_CHARS, wide));
    EXPECT_EQ(wide, L"Pr\x00E4sentation");
    std::string narrow;
    ASSERT_TRUE(NarrowFromWide(CP_UTF8, L"\x5F71\x50CF", 0, narrow));
    EXPECT_EQ(narrow, "\xE5\xBD\xB1\xE5\x83\x8F");
}

TEST(TextConversion, StrictDecodingRefusesInvalidBytes) {
    std::wstring wide = L"stale";
    EXPECT_FALSE(WideFromCodePage(CP_UTF8, "bad \xC3", MB_ERR_INVALID_CHARS, wide));
    EXPECT_EQ(wide, L"");
    EXPECT_TRUE(WideFromCodePage(CP_UTF8, "bad \xC3", 0, wide));
    EXPECT_EQ(wide, L"bad \xFFFD");
}

TEST(TextConversion, LettersTheAnsiCodePageLacksAreReportedAsLossy) {
    std::string narrow;
    bool lossy = false;
    ASSERT_TRUE(NarrowFromWide(CP_ACP, L"caf\x00E9", WC_NO_BEST_FIT_CHARS, narrow, &lossy));
    EXPECT_FALSE(lossy);
    ASSERT_TRUE(NarrowFromWide(CP_ACP, L"\x5F71", WC_NO_BEST_FIT_CHARS, narrow, &lossy));
    EXPECT_TRUE(lossy);
}

TEST(TextConversion, EmptyTextConvertsToEmpty) {
    std::wstring wide = L"x";
    EXPECT_TRUE(WideFromCodePage(CP_ACP, "", 0, wide));
    EXPECT_EQ(wide, L"");
    EXPECT_FALSE(WideFromCodePage(CP_ACP, nullptr, 0, wide));
}
