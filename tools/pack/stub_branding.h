#pragma once
// The publisher's branding of the launcher stub: its icon and the texts and
// versions of its version information, written into the stub's resources
// before the payload is appended, and read back from a package.
#include <cstdint>
#include <string>
#include <vector>

struct StubBranding {
    std::string icon;  // path of an .ico file
    std::string productName;
    std::string description;  // FileDescription: the name Explorer and Task Manager show
    std::string company;
    std::string copyright;
    std::string productVersion;  // also the file version unless that is given
    std::string fileVersion;
};

bool BrandingRequested(const StubBranding& branding);

// The texts and versions: empty when the version information can hold each,
// the reason for refusing otherwise.
std::string CheckBrandingValues(const StubBranding& branding);

// Writes the branding into the stub, with originalFileName (the package's
// file name) as its original file name. Texts and versions not given keep
// the stub's own. The branded stub may be at most largestStub bytes long.
// Empty when done, the reason for refusing otherwise (the stub unchanged).
std::string BrandStub(std::vector<unsigned char>& stub, const StubBranding& branding,
                      const std::string& originalFileName, uint64_t largestStub);

// What a program's resources say about it, as --inspect shows it.
struct BrandingFacts {
    bool found = false;  // false: no readable version information
    std::string productName, description, company, copyright;
    std::string fileVersion, productVersion;            // the strings
    std::string fixedFileVersion, fixedProductVersion;  // the fixed information, A.B.C.D
    std::string originalFileName;
    std::vector<std::string> iconSizes;  // of the first icon group, "16x16"
};

// image: the program's bytes (for a package, those before the marker).
BrandingFacts ReadBranding(const std::vector<unsigned char>& image);
