#include "tools/pack/package_report.h"

#include <cstdio>
#include <fstream>

#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string Line(const std::string& key, const std::string& value) {
    return key + ":" + (value.empty() ? "" : " " + value) + "\n";
}

std::string Characters(const std::string& text, size_t first) {
    return first < text.size() ? text.substr(first, 2) : std::string();
}

}  // namespace

bool LocatePackageInStream(std::streambuf& buffer, PackageLayout& layout) {
    std::vector<unsigned char> block(static_cast<size_t>(kSearchBlockEnd - kMarkerSearchStart));
    std::streamoff start = kMarkerSearchStart;
    std::streampos end = buffer.pubseekoff(0, std::ios_base::end);
    if (end == std::streampos(-1)) {
        return false;
    }
    size_t filled = 0;
    if (end > std::streampos(start)) {
        if (buffer.pubseekpos(start) != std::streampos(start)) {
            return false;
        }
        std::streamsize got = buffer.sgetn(reinterpret_cast<char*>(block.data()),
                                           static_cast<std::streamsize>(block.size()));
        filled = got > 0 ? static_cast<size_t>(got) : 0;
    }
    block.resize(filled);
    layout = LocatePackage(block.data(), block.size());
    return true;
}

std::string LauncherPropertyText(const PackageLayout& layout) {
    if (!layout.propertyRead) {
        return std::string();
    }
    return layout.propertyText.substr(0, layout.propertyText.find('\0'));
}

std::string EscapeForLine(const std::string& text) {
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        } else {
            shown.push_back(static_cast<char>(c));
        }
    }
    return shown;
}

std::string FormatPackageReport(const PackageLayout& layout, uint64_t fileSize) {
    std::string text = LauncherPropertyText(layout);
    uint64_t archiveSize = fileSize > static_cast<uint64_t>(layout.archiveOffset)
                               ? fileSize - static_cast<uint64_t>(layout.archiveOffset)
                               : 0;
    std::string report;
    report += Line("file size", std::to_string(fileSize));
    report += Line("marker offset", std::to_string(layout.markerOffset));
    report += Line("property offset", std::to_string(layout.propertyOffset));
    report += Line("property length", std::to_string(layout.archiveOffset - layout.propertyOffset));
    report += Line("locale text", EscapeForLine(LauncherTextToUtf8(text)));
    report += Line("language", EscapeForLine(LauncherTextToUtf8(Characters(text, 0))));
    report += Line("country", EscapeForLine(LauncherTextToUtf8(Characters(text, 3))));
    report += Line("archive offset", std::to_string(layout.archiveOffset));
    report += Line("archive size", std::to_string(archiveSize));
    return report;
}

std::string FormatEntryReport(const std::vector<ArchiveEntry>& entries) {
    std::string report = Line("entries", std::to_string(entries.size()));
    for (const ArchiveEntry& entry : entries) {
        report += Line("entry", "size=" + std::to_string(entry.size) +
                                    " packed=" + std::to_string(entry.packedSize) +
                                    " attributes=" + Hex(entry.attributes) +
                                    " name=" + EscapeForLine(LauncherTextToUtf8(entry.name)));
    }
    return report;
}

int InspectPackage(const std::filesystem::path& path) {
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    if (!std::filesystem::is_regular_file(path, failure)) {
        WriteError("velmar-pack: cannot inspect " + shown + ": it is not a file\n");
        return 1;
    }
    std::ifstream input(path, std::ios::binary);
    PackageLayout layout;
    if (!input || !LocatePackageInStream(*input.rdbuf(), layout)) {
        WriteError("velmar-pack: cannot read " + shown + "\n");
        return 1;
    }
    if (layout.result != 1) {
        std::string why = layout.markerFound
                              ? "the marker at offset " + std::to_string(layout.markerOffset) +
                                    " has no zip signature behind it up to offset " +
                                    std::to_string(kMarkerSearchEnd)
                              : "no marker between offsets " + std::to_string(kMarkerSearchStart) +
                                    " and " + std::to_string(kMarkerSearchEnd);
        WriteError("velmar-pack: the launcher finds no package in " + shown + ": " + why + "\n");
        return 1;
    }
    uint64_t fileSize = static_cast<uint64_t>(input.rdbuf()->pubseekoff(0, std::ios_base::end));
    WriteOut(FormatPackageReport(layout, fileSize));
    std::vector<ArchiveEntry> entries;
    std::string reason;
    if (!ListArchive(*input.rdbuf(), static_cast<uint64_t>(layout.archiveOffset), entries,
                     reason)) {
        WriteError("velmar-pack: the embedded archive of " + shown + " cannot be read: " + reason +
                   "\n");
        return 1;
    }
    WriteOut(FormatEntryReport(entries));
    return 0;
}
