// The package search over the bytes of an executable's search window.
#include "package/package_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PackageLayout layout = LocatePackage(data, size);
    if (layout.propertyRead && layout.propertyText.size() >= kPropertyCapacity) {
        __builtin_trap();  // the property text never fills its buffer
    }
    return 0;
}
