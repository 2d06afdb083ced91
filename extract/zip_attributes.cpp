#include "extract/zip_attributes.h"

namespace {

constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kHidden = 0x02;
constexpr uint32_t kSystem = 0x04;
constexpr uint32_t kDirectory = 0x10;
constexpr uint32_t kArchive = 0x20;

constexpr uint32_t kUnixDirectoryBit = 1u << 30;   // S_IFDIR in the high 16 bits
constexpr uint32_t kUnixOwnerWriteBit = 1u << 23;  // S_IWUSR in the high 16 bits

bool CarriesWindowsAttributes(unsigned host) {
    return host == 0 || host == 7 || host == 11 || host == 14;
}

}  // namespace

uint32_t ZipEntryAttributes(uint16_t versionMadeBy, uint32_t externalAttributes) {
    unsigned host = versionMadeBy >> 8;
    if (CarriesWindowsAttributes(host)) {
        return externalAttributes & (kReadOnly | kHidden | kSystem | kDirectory | kArchive);
    }
    uint32_t attributes = kArchive;
    if ((externalAttributes & kUnixDirectoryBit) != 0) {
        attributes |= kDirectory;
    }
    if ((externalAttributes & kUnixOwnerWriteBit) == 0) {
        attributes |= kReadOnly;
    }
    return attributes;
}
