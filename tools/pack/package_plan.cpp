#include "tools/pack/package_plan.h"

#include "tools/pack/payload_rules.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr size_t kLocaleLength = 5;  // language, separator, country

// The launcher takes the package's size as a signed 32-bit number.
constexpr uint64_t kLargestPackage = 0x7FFFFFFF;

std::string Number(int64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string CheckLocaleText(const std::string& text) {
    auto lower = [&](size_t i) { return text[i] >= 'a' && text[i] <= 'z'; };
    auto upper = [&](size_t i) { return text[i] >= 'A' && text[i] <= 'Z'; };
    if (text.size() == kLocaleLength && lower(0) && lower(1) &&
        (text[2] == '_' || text[2] == '-') && upper(3) && upper(4)) {
        return std::string();
    }
    std::string shown;
    for (unsigned char c : text) {
        shown += (c >= 0x20 && c != 0x7F) ? std::string(1, static_cast<char>(c)) : "?";
    }
    shown = IsValidUtf8(shown) ? shown : std::string("(not UTF-8)");
    return "the locale text \"" + shown +
           "\" is not of the form ll_CC: two lowercase letters (the language), '_' or '-', and "
           "two capital letters (the country), such as en_US";
}

std::string CheckLauncherLength(uint64_t launcherLength) {
    if (launcherLength > static_cast<uint64_t>(kMarkerSearchEnd)) {
        return "the launcher is " + Number(static_cast<int64_t>(launcherLength)) +
               " bytes long: the package marker would start past offset " +
               Number(kMarkerSearchEnd) + ", the end of the launcher's search";
    }
    return std::string();
}

std::string CheckLeastPackageLength(uint64_t least) {
    if (least > kLargestPackage) {
        return "the package would be at least " + std::to_string(least) +
               " bytes long: the launcher reads packages of at most 2 GiB - split the "
               "payload or leave files out";
    }
    return std::string();
}

std::string CheckPackageLength(int64_t length) {
    if (length < 0 || static_cast<uint64_t>(length) > kLargestPackage) {
        return "the package would be " + std::to_string(length) +
               " bytes long: the launcher reads packages of at most 2 GiB";
    }
    return std::string();
}

int64_t FindMarkerInSearchRange(const std::vector<unsigned char>& data) {
    if (data.size() < static_cast<size_t>(kMarkerSearchStart) + kMarkerLength) {
        return -1;
    }
    const unsigned char* marker = MarkerBytes();
    auto found =
        std::search(data.begin() + kMarkerSearchStart, data.end(), marker, marker + kMarkerLength);
    return found == data.end() ? -1 : static_cast<int64_t>(found - data.begin());
}

std::string PlanPackage(const std::vector<unsigned char>& launcher, const std::string& localeText,
                        uint64_t archiveLength, PackagePlan& plan) {
    std::string lengthProblem = CheckLauncherLength(launcher.size());
    if (!lengthProblem.empty()) {
        return lengthProblem;
    }
    int64_t inLauncher = FindMarkerInSearchRange(launcher);
    if (inLauncher >= 0) {
        return "the launcher holds the package marker at offset " + Number(inLauncher) +
               ", where the launcher would find it instead of the package's";
    }
    PackagePlan result;
    result.launcherLength = launcher.size();
    int64_t marker = std::max<int64_t>(static_cast<int64_t>(launcher.size()), kMarkerSearchStart);
    // A known archive length lets the filler make the package a multiple of
    // 8 bytes long, so that a signature appended later follows it directly.
    if (archiveLength > 0) {
        uint64_t end =
            static_cast<uint64_t>(marker) + kMarkerLength + localeText.size() + archiveLength;
        marker +=
            static_cast<int64_t>((kPackageAlignment - end % kPackageAlignment) % kPackageAlignment);
    }
    result.fillerLength = static_cast<uint64_t>(marker) - launcher.size();
    result.markerOffset = static_cast<int32_t>(marker);
    result.propertyOffset = result.markerOffset + static_cast<int32_t>(kMarkerLength);
    int64_t archive = result.propertyOffset + static_cast<int64_t>(localeText.size());
    // The window right behind the marker is always examined; any later one
    // only up to the bound.
    if (!localeText.empty() && archive > kMarkerSearchEnd) {
        return "the archive would begin at offset " + Number(archive) + ", past offset " +
               Number(kMarkerSearchEnd) + " where the launcher stops searching for it";
    }
    result.archiveOffset = static_cast<int32_t>(archive);
    plan = result;
    return std::string();
}

std::string CheckFinishedLayout(const PackagePlan& plan, const std::string& localeText,
                                const PackageLayout& found) {
    if (found.result != 1 || !found.markerFound) {
        return "the launcher's search finds no package in the written file";
    }
    if (found.markerOffset != plan.markerOffset) {
        return "the launcher's search finds the marker at offset " + Number(found.markerOffset) +
               " instead of " + Number(plan.markerOffset);
    }
    if (found.archiveOffset != plan.archiveOffset) {
        return "the launcher's search finds the archive at offset " + Number(found.archiveOffset) +
               " instead of " + Number(plan.archiveOffset);
    }
    bool textAgrees = localeText.empty() ? !found.propertyRead
                                         : found.propertyRead && found.propertyText == localeText;
    if (!textAgrees) {
        return "the launcher's search reads a different locale text from the written file";
    }
    return std::string();
}
