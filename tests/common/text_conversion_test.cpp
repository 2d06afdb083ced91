#include "common/text_conversion.h"

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

namespace {

UINT WINAPI Utf8AnsiCodePage() {
    return CP_UTF8;
}

// Runs the conversions as on a system whose ANSI code page is UTF-8.
class Utf8AsAnsiCodePage : public ::testing::Test {
  protected:
    void SetUp() override { AnsiCodePage = Utf8AnsiCodePage; }
    void TearDown() override { AnsiCodePage = GetACP; }
};

}  // namespace

TEST_F(Utf8AsAnsiCodePage, ConversionsWithAnsiFlagsStillWork) {
    std::string narrow;
    bool lossy = true;
    ASSERT_TRUE(NarrowFromWide(CP_ACP, L"\x0412\x043B\x0430\x0434 \x5F71", WC_NO_BEST_FIT_CHARS,
                               narrow, &lossy));
    EXPECT_FALSE(lossy);
    EXPECT_EQ(narrow, "\xD0\x92\xD0\xBB\xD0\xB0\xD0\xB4 \xE5\xBD\xB1");
    // A lone surrogate has no UTF-8 form: refused, never a stand-in character.
    EXPECT_FALSE(NarrowFromWide(CP_ACP, L"a\xD800", WC_NO_BEST_FIT_CHARS, narrow, &lossy));

    std::wstring wide;
    ASSERT_TRUE(
        WideFromCodePage(CP_ACP, "\xD0\x92\xD0\xBB", MB_ERR_INVALID_CHARS | MB_PRECOMPOSED, wide));
    EXPECT_EQ(wide, L"\x0412\x043B");
    EXPECT_FALSE(WideFromCodePage(CP_ACP, "bad \xC3", MB_ERR_INVALID_CHARS, wide));
    ASSERT_TRUE(WideFromCodePage(CP_ACP, "bad \xC3", MB_PRECOMPOSED, wide));
    EXPECT_EQ(wide, L"bad \xFFFD");
}
