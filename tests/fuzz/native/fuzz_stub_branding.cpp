// What --inspect reads from the program in front of a package's marker (its
// resources and version information), an .ico file, and the rewrite of a
// stub's resources.
#include "tools/pack/icon_resource.h"
#include "tools/pack/stub_branding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> bytes(data, data + size);
    BrandingFacts facts = ReadBranding(bytes);
    std::vector<IconImage> images;
    std::string error;
    ReadIconFile(bytes, images, error);
    if (facts.found) {
        StubBranding branding;
        branding.productName = "Fuzzed \xC3\xA9";
        branding.productVersion = "1.2.3";
        if (BrandStub(bytes, branding, "fuzz.exe", 500000).empty() &&
            ReadBranding(bytes).productName != branding.productName) {
            __builtin_trap();  // a rewrite reads back as written
        }
    }
    return 0;
}
