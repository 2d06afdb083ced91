#pragma once
// What the launcher finds in a package: the marker, the locale text, the
// archive and its entries, as plain "key: value" lines.
#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "package/package_layout.h"
#include "tools/pack/archive_listing.h"
#include "tools/pack/stub_branding.h"

// Reads the bytes the launcher's search looks at (from offset 100000 on)
// and runs the search over them. False when the file cannot be read.
bool LocatePackageInStream(std::streambuf& buffer, PackageLayout& layout);

// What the resources of the program in front of the marker say of it.
BrandingFacts ProgramBranding(std::streambuf& buffer, const PackageLayout& layout);

// The locale text as the launcher's property copy holds it: the property
// bytes up to the first zero byte, nothing for an over-long block.
std::string LauncherPropertyText(const PackageLayout& layout);

// Control characters become \xNN so that every value stays on its line.
std::string EscapeForLine(const std::string& text);

// What --inspect finds in a package.
struct PackageFindings {
    PackageLayout layout;
    uint64_t fileSize = 0;
    CertificateTable signature;  // a certificate table behind the archive
    uint64_t archiveEnd = 0;
    std::vector<ArchiveEntry> entries;
    std::vector<unsigned char> head;  // the first bytes, with the PE headers
    BrandingFacts branding;           // of the program before the marker
};

// Finds the package in buffer as the launcher will: the marker, the locale
// text, the archive's extent (up to a signature) and its directory. False,
// with the reason, when the launcher would find no package or no archive.
bool FindPackage(std::streambuf& buffer, PackageFindings& found, std::string& error);

// The report lines for a package the launcher finds.
std::string ClientLine(const std::vector<ArchiveEntry>& entries, bool json);
std::string FormatPackageReport(const PackageFindings& found);
std::string FormatEntryReport(const std::vector<ArchiveEntry>& entries);
// The same as one JSON object.
std::string FormatJsonReport(const PackageFindings& found);
// Text as a JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& utf8);

// --inspect: the report on stdout and 0, or a message on stderr and 1.
int InspectPackage(const std::filesystem::path& path, bool json);
