#pragma once
// The package probe: does the running executable carry a package, and what
// does its property text say.
#include <windows.h>

#include <cstdint>
#include <memory>

#include "common/unique_handle.h"

#include "package/package_layout.h"

struct PackageSourceRecord {
    // The running executable, open for shared reading until the process ends;
    // the copy-out reads the archive through it.
    UniqueFileHandle executable;
    int32_t propertyOffset = 0;  // first byte behind the marker
    int32_t archiveOffset = 0;   // the archive signature
    // Where the archive ends when a certificate table follows it (a signed
    // package); 0 when the archive runs to the end of the file.
    uint32_t archiveEnd = 0;
    char propertyText[kPropertyCapacity] = {};
};
extern PackageSourceRecord PackageSource;

// 1 when the running executable carries a marker and an archive within bounds.
int HasSelfExtractMarker();
// A copy of the property text (260 bytes), or null without a package.
std::unique_ptr<char[]> GetPackageProperties();

// The probe on a given file; HasSelfExtractMarker runs it on the executable.
int ProbePackageFile(const wchar_t* path);
