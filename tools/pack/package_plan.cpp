#include "tools/pack/package_plan.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMinimumLocaleLength = 5;  // language, separator, country
constexpr unsigned char kSignature[kSignatureLength] = {0x50, 0x4B, 0x03, 0x04};

std::string Number(int64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string CheckLocaleText(const std::string& text) {
    if (text.size() < kMinimumLocaleLength) {
        return "the locale text \"" + text + "\" has " + Number(static_cast<int64_t>(text.size())) +
               " characters, fewer than 5: the launcher takes the language from characters 1-2 "
               "and the country from characters 4-5";
    }
    if (text.size() >= kPropertyCapacity) {
        return "the locale text is " + Number(static_cast<int64_t>(text.size())) +
               " bytes long: the launcher reads at most " +
               Number(static_cast<int64_t>(kPropertyCapacity - 1));
    }
    if (text.find('\0') != std::string::npos) {
        return "the locale text holds a zero byte, where the launcher would cut it short";
    }
    auto signature =
        std::search(text.begin(), text.end(), std::begin(kSignature), std::end(kSignature),
                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
    if (signature != text.end()) {
        return "the locale text holds the zip signature PK\\3\\4, where the launcher would take "
               "the archive to begin";
    }
    return std::string();
}

std::string CheckLauncherLength(uint64_t launcherLength) {
    if (launcherLength > static_cast<uint64_t>(kMarkerSearchEnd)) {
        return "the launcher is " + Number(static_cast<int64_t>(launcherLength)) +
               " bytes long: the package marker would start past offset " +
               Number(kMarkerSearchEnd) + ", the end of the launcher's search";
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
                        PackagePlan& plan) {
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
