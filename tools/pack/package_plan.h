#pragma once
// Where the parts of a new package go, and the checks that every package the
// tool writes is one the launcher can read. Pure functions over bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "package/package_layout.h"

struct PackagePlan {
    uint64_t launcherLength = 0;
    uint64_t fillerLength = 0;   // zero bytes between the launcher and the marker
    int32_t markerOffset = 0;    // M
    int32_t propertyOffset = 0;  // M + 6
    int32_t archiveOffset = 0;   // M + 6 + length of the locale text
};

// The locale text: empty when it has the form ll_CC (en_US, de-AT), the
// reason otherwise.
std::string CheckLocaleText(const std::string& text);

// Checks only the launcher's length; used before its bytes are read.
std::string CheckLauncherLength(uint64_t launcherLength);

// The package's length, before it is written (the least it can come to) and
// once it is: the launcher takes it as a signed 32-bit number. Empty when it
// fits, the reason for refusing otherwise.
std::string CheckLeastPackageLength(uint64_t least);
std::string CheckPackageLength(int64_t length);

// Code signing pads a file to a multiple of this before it appends the
// signature; a package of such a length keeps its archive at the very end.
constexpr uint64_t kPackageAlignment = 8;

// The plan for the launcher's bytes and a locale text that CheckLocaleText
// accepted. With the archive's length known in advance (not 0), the marker
// moves up to 7 bytes on so that the package's length is aligned. Empty
// result and a filled plan, or the reason for refusing.
std::string PlanPackage(const std::vector<unsigned char>& launcher, const std::string& localeText,
                        uint64_t archiveLength, PackagePlan& plan);

// Compares what the launcher's search finds in the finished bytes with the
// plan. Empty when they agree.
std::string CheckFinishedLayout(const PackagePlan& plan, const std::string& localeText,
                                const PackageLayout& found);

// Where the marker bytes first stand at or after offset 100000 in data, or -1.
int64_t FindMarkerInSearchRange(const std::vector<unsigned char>& data);
