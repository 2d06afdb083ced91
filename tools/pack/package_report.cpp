#include "tools/pack/package_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"
#include "tools/pack/payload_rules.h"

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

BrandingFacts ProgramBranding(std::streambuf& buffer, const PackageLayout& layout) {
    std::vector<unsigned char> program(static_cast<size_t>(std::max(layout.markerOffset, 0)));
    std::streamsize got = buffer.pubseekpos(0) == std::streampos(0)
                              ? buffer.sgetn(reinterpret_cast<char*>(program.data()),
                                             static_cast<std::streamsize>(program.size()))
                              : 0;
    program.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return ReadBranding(program);
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

namespace {

std::string EntryName(const ArchiveEntry& entry) {
    return StoredNameToUtf8(entry.name, entry.utf8);
}

}  // namespace

std::string ClientLine(const std::vector<ArchiveEntry>& entries, bool json) {
    std::vector<std::string> files;
    for (const ArchiveEntry& entry : entries) {
        std::string name = EntryName(entry);
        if (name.empty() || name.back() != '/') {
            files.push_back(name);
        }
    }
    ClientChoice client = ChooseClient(files);
    if (client.program.empty()) {
        return json ? "null" : "none";
    }
    if (json) {
        return "{\"program\": " + JsonString(client.program) +
               ", \"configuration\": " + JsonString(client.configuration) + "}";
    }
    return client.program + " " + client.configuration;
}

namespace {

std::string MethodName(uint16_t method) {
    return method == 0 ? "stored" : method == 8 ? "deflate" : "method " + std::to_string(method);
}

std::string DosTimeText(uint32_t dosDate) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", 1980 + (dosDate >> 25),
                  (dosDate >> 21) & 0xF, (dosDate >> 16) & 0x1F, (dosDate >> 11) & 0x1F,
                  (dosDate >> 5) & 0x3F, (dosDate & 0x1F) * 2);
    return text;
}

std::string HexCrc(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}

// The version information and icon sizes, each a line; empty values when
// the program has none.
std::string BrandingLines(const BrandingFacts& b) {
    std::string sizes;
    for (const std::string& size : b.iconSizes) {
        sizes += (sizes.empty() ? "" : " ") + size;
    }
    auto version = [&](const std::string& fixed, const std::string& text) {
        return b.found ? fixed + " (" + EscapeForLine(text) + ")" : std::string();
    };
    return Line("product name", EscapeForLine(b.productName)) +
           Line("description", EscapeForLine(b.description)) +
           Line("company", EscapeForLine(b.company)) +
           Line("copyright", EscapeForLine(b.copyright)) +
           Line("file version", version(b.fixedFileVersion, b.fileVersion)) +
           Line("product version", version(b.fixedProductVersion, b.productVersion)) +
           Line("original file name", EscapeForLine(b.originalFileName)) +
           Line("icon sizes", sizes);
}

std::string BrandingJson(const BrandingFacts& b) {
    if (!b.found) {
        return "null";
    }
    std::string sizes;
    for (const std::string& size : b.iconSizes) {
        sizes += (sizes.empty() ? "" : ", ") + JsonString(size);
    }
    return "{\"product_name\": " + JsonString(b.productName) +
           ", \"description\": " + JsonString(b.description) +
           ", \"company\": " + JsonString(b.company) +
           ", \"copyright\": " + JsonString(b.copyright) +
           ",\n               \"file_version\": " + JsonString(b.fileVersion) +
           ", \"product_version\": " + JsonString(b.productVersion) +
           ", \"fixed_file_version\": " + JsonString(b.fixedFileVersion) +
           ", \"fixed_product_version\": " + JsonString(b.fixedProductVersion) +
           ",\n               \"original_file_name\": " + JsonString(b.originalFileName) +
           ", \"icon_sizes\": [" + sizes + "]}";
}

uint64_t ArchiveSize(const PackageFindings& found) {
    uint64_t start = static_cast<uint64_t>(found.layout.archiveOffset);
    return found.archiveEnd > start ? found.archiveEnd - start : 0;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string text = IsValidUtf8(utf8) ? utf8 : std::string();
    if (text.empty() && !utf8.empty()) {
        for (unsigned char c : utf8) {
            text += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\xEF\xBF\xBD";
        }
    }
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string FormatPackageReport(const PackageFindings& found) {
    const PackageLayout& layout = found.layout;
    std::string text = LauncherPropertyText(layout);
    std::string report;
    report += Line("file size", std::to_string(found.fileSize));
    report += Line("marker offset", std::to_string(layout.markerOffset));
    report += Line("property offset", std::to_string(layout.propertyOffset));
    report += Line("property length", std::to_string(layout.archiveOffset - layout.propertyOffset));
    report += Line("locale text", EscapeForLine(StoredNameToUtf8(text, false)));
    report += Line("language", EscapeForLine(StoredNameToUtf8(Characters(text, 0), false)));
    report += Line("country", EscapeForLine(StoredNameToUtf8(Characters(text, 3), false)));
    report += Line("archive offset", std::to_string(layout.archiveOffset));
    report += Line("archive size", std::to_string(ArchiveSize(found)));
    report += Line("signature", found.signature.present
                                    ? "offset=" + std::to_string(found.signature.offset) +
                                          " size=" + std::to_string(found.signature.size)
                                    : "none");
    report += Line("client", ClientLine(found.entries, false));
    return report + BrandingLines(found.branding);
}

std::string FormatEntryReport(const std::vector<ArchiveEntry>& entries) {
    std::string report = Line("entries", std::to_string(entries.size()));
    for (const ArchiveEntry& entry : entries) {
        report += Line("entry", "size=" + std::to_string(entry.size) +
                                    " packed=" + std::to_string(entry.packedSize) +
                                    " attributes=" + Hex(entry.attributes) +
                                    " name=" + EscapeForLine(EntryName(entry)));
    }
    return report;
}

std::string FormatJsonReport(const PackageFindings& found) {
    const PackageLayout& layout = found.layout;
    std::string text = LauncherPropertyText(layout);
    std::string json = "{\n";
    json += "  \"file_size\": " + std::to_string(found.fileSize) + ",\n";
    json += "  \"marker_offset\": " + std::to_string(layout.markerOffset) + ",\n";
    json += "  \"property_offset\": " + std::to_string(layout.propertyOffset) + ",\n";
    json += "  \"locale\": " + JsonString(StoredNameToUtf8(text, false)) + ",\n";
    json += "  \"language\": " + JsonString(StoredNameToUtf8(Characters(text, 0), false)) + ",\n";
    json += "  \"country\": " + JsonString(StoredNameToUtf8(Characters(text, 3), false)) + ",\n";
    json += "  \"archive_offset\": " + std::to_string(layout.archiveOffset) + ",\n";
    json += "  \"archive_size\": " + std::to_string(ArchiveSize(found)) + ",\n";
    json +=
        "  \"signature\": " +
        (found.signature.present ? "{\"offset\": " + std::to_string(found.signature.offset) +
                                       ", \"size\": " + std::to_string(found.signature.size) + "}"
                                 : std::string("null")) +
        ",\n";
    json += "  \"client\": " + ClientLine(found.entries, true) + ",\n";
    json += "  \"branding\": " + BrandingJson(found.branding) + ",\n";
    json += "  \"entries\": [";
    for (size_t i = 0; i < found.entries.size(); ++i) {
        const ArchiveEntry& entry = found.entries[i];
        json += std::string(i == 0 ? "\n" : ",\n") +
                "    {\"name\": " + JsonString(EntryName(entry)) +
                ", \"utf8\": " + (entry.utf8 ? "true" : "false") +
                ", \"method\": " + JsonString(MethodName(entry.method)) +
                ", \"encrypted\": " + (entry.encrypted ? "true" : "false") +
                ", \"size\": " + std::to_string(entry.size) +
                ", \"packed_size\": " + std::to_string(entry.packedSize) + ", \"crc32\": \"" +
                HexCrc(entry.crc) + "\", \"time\": \"" + DosTimeText(entry.dosDate) +
                "\", \"attributes\": " + std::to_string(entry.attributes) + "}";
    }
    json += found.entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

bool FindPackage(std::streambuf& buffer, PackageFindings& found, std::string& error) {
    if (!LocatePackageInStream(buffer, found.layout)) {
        error = "it cannot be read";
        return false;
    }
    const PackageLayout& layout = found.layout;
    if (layout.result != 1) {
        error = "the launcher finds no package in it: " +
                (layout.markerFound
                     ? "the marker at offset " + std::to_string(layout.markerOffset) +
                           " has no zip signature behind it up to offset " +
                           std::to_string(kMarkerSearchEnd)
                     : "no marker between offsets " + std::to_string(kMarkerSearchStart) + " and " +
                           std::to_string(kMarkerSearchEnd));
        return false;
    }
    found.fileSize = static_cast<uint64_t>(buffer.pubseekoff(0, std::ios_base::end));
    found.head.assign(kHeaderBlockLength, 0);
    buffer.pubseekpos(0);
    std::streamsize got = buffer.sgetn(reinterpret_cast<char*>(found.head.data()),
                                       static_cast<std::streamsize>(found.head.size()));
    found.head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    CertificateTable table =
        FindCertificateTable(found.head.data(), found.head.size(), found.fileSize);
    found.archiveEnd = ArchiveEndOffset(layout, table, found.fileSize);
    found.signature = found.archiveEnd < found.fileSize ? table : CertificateTable();
    std::string reason;
    if (!ListArchive(buffer, static_cast<uint64_t>(layout.archiveOffset), found.entries, reason,
                     found.archiveEnd)) {
        error = "the embedded archive cannot be read: " + reason;
        return false;
    }
    return true;
}

int InspectPackage(const std::filesystem::path& path, bool json) {
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    if (!std::filesystem::is_regular_file(path, failure)) {
        WriteError("velmar-pack: cannot inspect " + shown + ": it is not a file\n");
        return 1;
    }
    std::ifstream input(path, std::ios::binary);
    PackageFindings found;
    std::string error;
    if (!input || !FindPackage(*input.rdbuf(), found, error)) {
        WriteError("velmar-pack: " + shown + ": " + (input ? error : "it cannot be read") + "\n");
        return 1;
    }
    found.branding = ProgramBranding(*input.rdbuf(), found.layout);
    WriteOut(json ? FormatJsonReport(found)
                  : FormatPackageReport(found) + FormatEntryReport(found.entries));
    return 0;
}
