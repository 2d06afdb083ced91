#include "diagnostics/problem_report.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/message_catalogue.h"
#include "test_support/recorded_box.h"

namespace {

std::wstring Generic(int number) {
    return L"The launcher has encountered a problem for which a description is not available.\n"
           L"Problem number: " +
           std::to_wstring(number) + L"\n\nThe program will now exit.";
}

class ProblemBox : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(shown.owner, nullptr);
        MessageCatalogue = StartUpMessageCatalogue();
    }
    BoxRecorder recorder;
    const ShownBox& shown = RecordedBox;
};

}  // namespace

TEST_F(ProblemBox, Problem201ShowsTheGenericTextUnderTheProductCaption) {
    ReportProblem(201, "C:\\Downloads\\event.exe /x");
    EXPECT_EQ(shown.count, 1);
    EXPECT_EQ(shown.caption, L"VelmarOne");
    EXPECT_EQ(shown.text, Generic(201));
    EXPECT_EQ(shown.style, 0x10010u);
}

// The texts present from start-up: each formats its inserts, names the file or
// drive, and ends with its problem number; 201 keeps the generic text.
TEST_F(ProblemBox, CausesWithATextOfTheirOwnNameTheirSubjectAndNumber) {
    for (int number : {202, 203, 204, 205, 206, 207}) {
        ReportProblem(number, L"C:\\Temp\\x", L"4.0 MB", L"1.0 MB");
        std::wstring ending = L"\nProblem number: " + std::to_wstring(number);
        ASSERT_GT(shown.text.size(), ending.size()) << number;
        EXPECT_EQ(shown.text.substr(shown.text.size() - ending.size()), ending);
        EXPECT_NE(shown.text.find(L"C:\\Temp\\x"), std::wstring::npos) << number;
        EXPECT_EQ(shown.text.find(L'%'), std::wstring::npos) << number;
        EXPECT_EQ(shown.caption, L"VelmarOne");
    }
    ReportProblem(203, L"D:\\", L"4.0 MB", L"1.0 MB");
    EXPECT_NE(
        shown.text.find(L"drive D:\\ to unpack the package: it needs 4.0 MB, and 1.0 MB is free"),
        std::wstring::npos);
}

TEST_F(ProblemBox, NumbersWithoutATextOfTheirOwnGetTheGenericText) {
    for (int number : {999, 0, 210, -5}) {
        ReportProblem(number, L"insert");
        EXPECT_EQ(shown.text, Generic(number));
    }
}

TEST_F(ProblemBox, EmptyCatalogueTextCountsAsAbsent) {
    MessageCatalogue[L"10002"] = L"";
    MessageCatalogue[L"10001"] = L"";
    ReportProblem(201, L"insert");
    EXPECT_EQ(shown.text, Generic(201));
    EXPECT_EQ(shown.caption, L"VelmarOne");
}

TEST_F(ProblemBox, CatalogueTextsFormatTheirInserts) {
    MessageCatalogue[L"10002"] = L"Cannot read %1.";
    MessageCatalogue[L"10001"] = L"Player";
    ReportProblem(201, L"C:\\w\\properties\\offlineplayback.pbcf");
    EXPECT_EQ(shown.text, L"Cannot read C:\\w\\properties\\offlineplayback.pbcf.");
    EXPECT_EQ(shown.caption, L"Player");
}

TEST_F(ProblemBox, OverlongGenericTemplateIsCutToItsBuffer) {
    MessageCatalogue[L"10006"] = std::wstring(600, L'x') + L"%d";
    ReportProblem(5);
    EXPECT_EQ(shown.text, std::wstring(511, L'x'));
}

TEST(MessageCatalogueLookup, MissesLeaveAnEmptyOutput) {
    wchar_t out[8] = L"garbage";
    EXPECT_FALSE(LookUpMessage(10001, out, 8));
    EXPECT_STREQ(out, L"");
}

TEST(MessageCatalogueLookup, LongTextsAreCutAndTerminated) {
    MessageCatalogue[L"10001"] = L"abcdefghij";
    wchar_t out[4];
    EXPECT_TRUE(LookUpMessageText(L"10001", out, 4));
    EXPECT_STREQ(out, L"abc");
    MessageCatalogue = StartUpMessageCatalogue();
}
