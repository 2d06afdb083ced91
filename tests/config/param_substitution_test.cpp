#include "config/param_substitution.h"

#include "test_support/log_capture.h"
#include "test_support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <vector>

namespace {

class SubstituteParam : public testing::Test {
  protected:
    ScratchFolder folder{L"velmar_subst"};
    LogCapture log{folder / L"log.txt"};
};

TEST_F(SubstituteParam, RewritesInPlaceAndTracesEveryCall) {
    wchar_t text[32] = L"lang=%locl%;%locl%";
    EXPECT_EQ(substituteParam(text, L"%locl%", L"en", 32), 0);
    EXPECT_STREQ(text, L"lang=en;en");
    EXPECT_EQ(substituteParam(text, L"%locc%", L"", 32), 0);
    EXPECT_STREQ(text, L"lang=en;en");

    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "In substituteParam, substi = %locl%, paramValue = en",
                               "   strlen = 10, newBufferLength = 32",
                               "Cleaning up substituteParam",
                               "After cleaning up substituteParam",
                               "In substituteParam, substi = %locc%, paramValue = ",
                               "   strlen = 10, newBufferLength = 32",
                               "Cleaning up substituteParam",
                               "After cleaning up substituteParam",
                           }));
}

TEST_F(SubstituteParam, EmptyTextStaysEmptyWithLengthZero) {
    wchar_t text[4] = L"";
    substituteParam(text, L"%locl%", L"en", 4);
    EXPECT_STREQ(text, L"");
    EXPECT_EQ(log.Lines().at(1), "   strlen = 0, newBufferLength = 4");
}

// The buffer is never written past its capacity: a result that does not fit
// leaves the text as it was.
TEST_F(SubstituteParam, ResultThatDoesNotFitLeavesTextAndGuardUntouched) {
    wchar_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    wcscpy(buffer, L"%x%%x%");                    // 6 characters; capacity 10 below
    substituteParam(buffer, L"%x%", L"abc", 10);  // "abcabc" fits in 10
    EXPECT_STREQ(buffer, L"abcabc");
    substituteParam(buffer, L"abc", L"abcd", 9);  // "abcdabcd" + terminator fits 9 exactly
    EXPECT_STREQ(buffer, L"abcdabcd");
    substituteParam(buffer, L"abcd", L"abcde", 10);  // 10 characters need 11
    EXPECT_STREQ(buffer, L"abcdabcd");
    for (size_t i = 10; i < 16; ++i) {
        EXPECT_EQ(buffer[i], L'#') << i;
    }
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[9],
              "   Result of 10 characters does not fit newBufferLength = 10; text left unchanged");
    EXPECT_EQ(lines[10], "   strlen = 8, newBufferLength = 10");
}

TEST_F(SubstituteParam, UnterminatedOrMissingTextIsLeftAlone) {
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    substituteParam(buffer, L"b", L"", 4);
    EXPECT_EQ(std::wstring(buffer, 4), L"abcd");
    substituteParam(nullptr, nullptr, nullptr, 8);
    std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "   Text is not terminated within newBufferLength; left unchanged");
    EXPECT_EQ(lines[5], "In substituteParam, substi = , paramValue = ");
}

}  // namespace
