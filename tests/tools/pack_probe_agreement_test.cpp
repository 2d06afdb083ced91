// The launcher's own probe, run on packages and other files, finds what
// velmar-pack --inspect reported on the same files (written by
// test_pack_wine.py into the fixtures).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "package/package_probe.h"
#include "test_support/scratch_folder.h"

namespace {

std::map<std::string, std::string> ReadReport(const std::wstring& path) {
    std::map<std::string, std::string> values;
    std::ifstream input(path.c_str());
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || line.compare(0, colon, "entry") == 0) {
            continue;
        }
        std::string value = line.substr(colon + 1);
        values[line.substr(0, colon)] = value.empty() ? value : value.substr(1);
    }
    return values;
}

class ProbeAgreesWithInspect : public ::testing::TestWithParam<const char*> {};

TEST_P(ProbeAgreesWithInspect, OnOffsetsAndPropertyText) {
    std::string name = GetParam();
    std::wstring fixture = L"tools\\" + std::wstring(name.begin(), name.end());
    std::map<std::string, std::string> report = ReadReport(FixturePath(fixture + L".inspect.txt"));
    ASSERT_EQ(report.count("exit code"), 1u) << "no report for " << name;

    // As at process start: the probe keeps earlier text when it reads none.
    std::memset(PackageSource.propertyText, 0, sizeof PackageSource.propertyText);
    int result = ProbePackageFile(FixturePath(fixture + L".exe").c_str());
    if (report["exit code"] == "1") {
        EXPECT_EQ(result, 0);
        return;
    }
    ASSERT_EQ(report["exit code"], "0");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(PackageSource.propertyOffset, std::stoi(report["property offset"]));
    EXPECT_EQ(PackageSource.propertyOffset - 6, std::stoi(report["marker offset"]));
    EXPECT_EQ(PackageSource.archiveOffset, std::stoi(report["archive offset"]));
    EXPECT_EQ(std::string(PackageSource.propertyText), report["locale text"]);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ProbeAgreesWithInspect,
                         ::testing::Values("folder", "overlong", "two_markers", "no_archive",
                                           "plain"));

}  // namespace
