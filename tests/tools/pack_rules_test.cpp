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
#include "tools/pack/payload_rules.h"
#include "tools/pack/payload_zip.h"

TEST(PackRules, LocaleTextsMustBeLanguageSeparatorCountry) {
    struct Case {
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"en_US", true},
        {"de-AT", true},
        {"english", false},
        {"en_U", false},
        {"", false},
        {"EN_us", false},
        {"en US", false},
        {"en_USx", false},
        {"\xC3\xA9n_US", false},
        {std::string("en_U\0", 5), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckLocaleText(c.text).empty(), c.taken) << c.text;
    }
}

TEST(PackRules, EntryNamesTheLauncherWouldRefuse) {
    const std::pair<std::string, std::string> cases[] = {
        {"bin/velmar.exe", ""},
        {"media/caf\xC3\xA9 \xE2\x98\x95.txt", ""},
        {"bin/", ""},
        {"../evil.txt", "leads outside"},
        {"a/ ./b", "leads outside"},
        {"/etc/passwd", "root"},
        {"C:/x.txt", "':'"},
        {"media/nul.txt", "device"},
        {"COM1", "device"},
        {"COM\xC2\xB9.txt", "device"},
        {"lpt\xC2\xB3", "device"},
        {"COM\xC2\xB9x", ""},
        {"a//b", ""},  // the file system takes it as a/b, and so does the launcher
        {"bad\xFF", "UTF-8"},
        {"\xED\xA0\x80.txt", "UTF-8"},
        {"\xE0\x80\x80.txt", "UTF-8"},
        {"\xF5\x80\x80\x80.txt", "UTF-8"},
        {"\xF4\x8F\xBF\xBF.txt", ""},
    };
    for (const auto& c : cases) {
        std::string problem = EntryNameProblem(c.first);
        if (c.second.empty()) {
            EXPECT_EQ(problem, "") << c.first;
        } else {
            EXPECT_NE(problem.find(c.second), std::string::npos) << c.first << ": " << problem;
        }
    }
}

TEST(PackRules, ClientsTextFilesAndStoredMedia) {
    EXPECT_EQ(ChooseClient({"BIN/Velmar.exe", "bin/launcher.exe"}).configuration,
              "properties/offlineplayback.pbcf");
    EXPECT_EQ(ChooseClient({"bin/launcher.exe"}).program, "bin/launcher.exe");
    EXPECT_EQ(ChooseClient({"x/bin/velmar.exe"}).program, "");
    EXPECT_NE(MissingClientProblem({"sample/bin/velmar.exe", "sample/a.txt"}).find("sample/"),
              std::string::npos);
    EXPECT_EQ(MissingClientProblem({"a/bin/velmar.exe", "b.txt"}).find("pack that"),
              std::string::npos);

    EXPECT_EQ(TextFileProblem("\xEF\xBB\xBFurl=%local%\n"), "");
    EXPECT_NE(TextFileProblem("\xFF\xFEu\0r\0").find("UTF-16"), std::string::npos);
    EXPECT_NE(TextFileProblem("caf\xE9"), "");

    EXPECT_TRUE(IsCompressedByName("media/Clip.MP4"));
    EXPECT_FALSE(IsCompressedByName("media/clip.txt"));
    std::string text(100000, 'a');
    std::string noise;
    for (uint32_t x = 1; noise.size() < 100000;) {
        x = x * 1103515245 + 12345;
        noise.push_back(static_cast<char>(x >> 24));
    }
    EXPECT_TRUE(DeflateGainsEnough(text.data(), text.size(), 6));
    EXPECT_FALSE(DeflateGainsEnough(noise.data(), noise.size(), 6));
}

TEST(PackRules, PlanPadsShortLaunchersAndRefusesMarkersInside) {
    PackagePlan plan;
    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(3000, 'a'), "en_US", 0, plan), "");
    EXPECT_EQ(plan.fillerLength, 97000u);
    EXPECT_EQ(plan.markerOffset, 100000);
    EXPECT_EQ(plan.archiveOffset, 100011);

    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(250000, 'a'), "en_US", 0, plan), "");
    EXPECT_EQ(plan.fillerLength, 0u);
    EXPECT_EQ(plan.markerOffset, 250000);

    std::vector<unsigned char> launcher(200000, 'a');
    const unsigned char* marker = MarkerBytes();
    std::copy(marker, marker + kMarkerLength, launcher.begin() + 99994);
    EXPECT_EQ(PlanPackage(launcher, "en_US", 0, plan), "");  // ends before the search starts
    std::copy(marker, marker + kMarkerLength, launcher.begin() + 199994);
    EXPECT_NE(PlanPackage(launcher, "en_US", 0, plan).find("199994"), std::string::npos);

    EXPECT_EQ(PlanPackage(std::vector<unsigned char>(499989, 'a'), "en_US", 0, plan), "");
    EXPECT_EQ(plan.archiveOffset, 500000);
    EXPECT_NE(PlanPackage(std::vector<unsigned char>(499990, 'a'), "en_US", 0, plan), "");
    EXPECT_NE(PlanPackage(std::vector<unsigned char>(500001, 'a'), "en_US", 0, plan), "");

    // A known archive length moves the marker so that the package ends on a
    // multiple of 8.
    for (uint64_t archive : {100u, 101u, 107u}) {
        ASSERT_EQ(PlanPackage(std::vector<unsigned char>(3000, 'a'), "en_US", archive, plan), "");
        EXPECT_EQ((plan.archiveOffset + archive) % 8, 0u);
        EXPECT_LT(plan.markerOffset, 100008);
    }
}

TEST(PackRules, FinishedLayoutMustMatchThePlan) {
    PackagePlan plan;
    ASSERT_EQ(PlanPackage(std::vector<unsigned char>(10, 'a'), "en_US", 0, plan), "");
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
    CalendarTime utc;
    ASSERT_TRUE(ToUtcCalendar(1614834367, utc));
    EXPECT_EQ((std::vector<int>{utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second}),
              (std::vector<int>{2021, 3, 4, 5, 6, 7}));
    ASSERT_TRUE(ToUtcCalendar(951782400 - 1, utc));  // the day before 2000-02-29
    EXPECT_EQ((std::vector<int>{utc.month, utc.day, utc.hour}), (std::vector<int>{2, 28, 23}));
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
