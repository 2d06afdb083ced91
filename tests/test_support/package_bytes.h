#pragma once
// Test support: the bytes of a package as the launcher reads them from its own
// executable.
#include <string>
#include <vector>

#include "package/package_layout.h"

// Filler (never the marker) up to markerOffset, the marker, the property text
// and the archive.
inline std::vector<unsigned char> PackageBytes(size_t markerOffset, const std::string& properties,
                                               const std::vector<unsigned char>& archive) {
    std::vector<unsigned char> file(markerOffset, 'x');
    const unsigned char* marker = MarkerBytes();
    file.insert(file.end(), marker, marker + kMarkerLength);
    file.insert(file.end(), properties.begin(), properties.end());
    file.insert(file.end(), archive.begin(), archive.end());
    return file;
}
