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

// Reads the bytes the launcher's search looks at (from offset 100000 on)
// and runs the search over them. False when the file cannot be read.
bool LocatePackageInStream(std::streambuf& buffer, PackageLayout& layout);

// The locale text as the launcher's property copy holds it: the property
// bytes up to the first zero byte, nothing for an over-long block.
std::string LauncherPropertyText(const PackageLayout& layout);

// Control characters become \xNN so that every value stays on its line.
std::string EscapeForLine(const std::string& text);

// The report lines for a package the launcher finds.
std::string FormatPackageReport(const PackageLayout& layout, uint64_t fileSize);
std::string FormatEntryReport(const std::vector<ArchiveEntry>& entries);

// --inspect: the report on stdout and 0, or a message on stderr and 1.
int InspectPackage(const std::filesystem::path& path);
