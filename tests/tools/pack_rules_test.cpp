// The packaging tool's rules that its command line cannot reach or that
// need exact values: locale text, layout plan, DOS times, the UT block, the
// launcher's attribute mapping and line escaping.
#include <gtest/gtest.h>

#include "extract/zip_attributes.h"

#include <string>
#include <vector>

#include "tools/pack/archive_listing.h"
#include "tools/pack/package_report.h"
#include "tools/pack/package_plan.h"
#include "tools/pack/payload_zip.h"

TEST(PackRules, LocaleTextsTheLauncherCannotTake) {
    EXPECT_EQ(CheckLocaleText("en_US"), "");
    EXPECT_EQ(CheckLocaleText(std::string(259, 'x')), "");
    EXPECT_NE(CheckLocaleText("en_U"), "");
    EXPECT_NE(CheckLocaleText(std::string(260, 'x')), "");
    EXPECT_NE(CheckLocaleText(std::string("en_US\0x", 7)).find("zero byte"), std::string::npos);
    EXPECT_NE(CheckLocaleText("en_USPK\x03\x04").find("signature"), std::string::npos);
    EXPECT_EQ(CheckLocaleText("en_USPK\x03"), "");
}

TEST(PackRules, PlanPadsShortLaunchersAndRefusesMarkersInside) {
    PackagePlan plan;
    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(3000, 'a'), "en_US", plan), "");
    EXPECT_EQ(plan.fillerLength, 97000u);
    EXPECT_EQ(plan.markerOffset, 100000);
    EXPECT_EQ(plan.archiveOffset, 100011);

    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(250000, 'a'), "en_US", plan), "");
    EXPECT_EQ(plan.fillerLength, 0u);
    EXPECT_EQ(plan.markerOffset, 250000);

    std::vector<unsigned char> launcher(200000, 'a');
    const unsigned char* marker = MarkerBytes();
    std::copy(marker, marker + kMarkerLength, launcher.begin() + 99994);
    EXPECT_EQ(PlanPackage(launcher, "en_US", plan), "");  // ends before the search starts
    std::copy(marker, marker + kMarkerLength, launcher.begin() + 199994);
    EXPECT_NE(PlanPackage(launcher, "en_US", plan).find("199994"), std::string::npos);

    EXPECT_EQ(PlanPackage(std::vector<unsigned char>(499989, 'a'), "en_US", plan), "");
    EXPECT_EQ(plan.archiveOffset, 500000);
    EXPECT_NE(PlanPackage(std::vector<unsigned char>(499990, 'a'), "en_US", plan), "");
    EXPECT_NE(PlanPackage(std::vector<unsigned char>(500001, 'a'), "en_US", plan), "");
}

TEST(PackRules, FinishedLayoutMustMatchThePlan) {
    PackagePlan plan;
    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(10, 'a'), "en_US", plan), "");
    PackageLayout found;
    found.result = 1;
    found.markerFound = true;
    found.markerOffset = 100000;
    found.propertyOffset = 100006;
    found.archiveOffset = 100011;
    found.propertyRead = true;
    found.propertyText = "en_US";
    EXPECT_EQ(CheckFinishedLayout(plan, "en_US", found), "");
    found.propertyText = "en_UX";
    EXPECT_NE(CheckFinishedLayout(plan, "en_US", found), "");
    found.propertyText = "en_US";
    found.archiveOffset = 100009;
    EXPECT_NE(CheckFinishedLayout(plan, "en_US", found), "");
}

TEST(PackRules, DosTimesAreEncodedAndClamped) {
    DosDateTime dos = ToDosDateTime(CalendarTime{2021, 3, 4, 10, 36, 7});
    EXPECT_EQ(dos.date, ((2021 - 1980) << 9) | (3 << 5) | 4);
    EXPECT_EQ(dos.time, (10 << 11) | (36 << 5) | 3);
    dos = ToDosDateTime(CalendarTime{1970, 1, 1, 5, 30, 0});
    EXPECT_EQ(dos.date, (1 << 5) | 1);
    EXPECT_EQ(dos.time, 0);
    dos = ToDosDateTime(CalendarTime{2200, 6, 1, 0, 0, 0});
    EXPECT_EQ(dos.date, (127 << 9) | (12 << 5) | 31);
    EXPECT_EQ(dos.time, (23 << 11) | (59 << 5) | 29);
}

TEST(PackRules, TimestampBlockHoldsTheExactTime) {
    EXPECT_EQ(ExtendedTimestampBlock(1614834367), std::string("UT\x05\x00\x01\xBF\x6A\x40\x60", 9));
    EXPECT_EQ(ExtendedTimestampBlock(-1), std::string("UT\x05\x00\x01\xFF\xFF\xFF\xFF", 9));
    EXPECT_EQ(ExtendedTimestampBlock(int64_t{1} << 31), "");
}

TEST(PackRules, AttributesAsTheLauncherMapsThem) {
    // FAT host: the bits as stored, without the high ones.
    EXPECT_EQ(ZipEntryAttributes(VersionMadeBy(0), 0x27), 0x27u);
    EXPECT_EQ(ZipEntryAttributes(VersionMadeBy(0), 0x01), 0x01u);
    // Unix host: owner-write clear is read-only; archive always.
    EXPECT_EQ(ZipEntryAttributes(VersionMadeBy(3), 0100644u << 16), 0x20u);
    EXPECT_EQ(ZipEntryAttributes(VersionMadeBy(3), 0100444u << 16), 0x21u);
    EXPECT_EQ(ZipEntryAttributes(VersionMadeBy(3), (040755u << 16) | 0x10), 0x30u);
}

TEST(PackRules, ReportLinesStayOnOneLine) {
    EXPECT_EQ(EscapeForLine("a\nb\\c\x7f"), "a\\x0Ab\\x5Cc\\x7F");
    EXPECT_EQ(EscapeForLine("Ünï"), "Ünï");
}
