#include "tools/pack/launcher_stub.h"

#include <algorithm>

#include "common/little_endian.h"
#include "package/package_layout.h"

namespace {

constexpr uint16_t kGuiSubsystem = 2;
// The launcher's version information names it; other programs do not.
const char kInternalName[] = "velmar-launcher";

bool HoldsWideText(const std::vector<unsigned char>& bytes, const char* text) {
    std::vector<unsigned char> wide;
    for (const char* c = text; *c != '\0'; ++c) {
        wide.push_back(static_cast<unsigned char>(*c));
        wide.push_back(0);
    }
    return std::search(bytes.begin(), bytes.end(), wide.begin(), wide.end()) != bytes.end();
}

}  // namespace

std::string LauncherStubProblem(const std::vector<unsigned char>& stub) {
    size_t field = SecurityDirectoryField(stub.data(), std::min(stub.size(), kHeaderBlockLength));
    if (field == 0) {
        return "it is not a Windows program (no PE headers)";
    }
    size_t peHeader = ReadLe32(stub.data() + 0x3C);
    uint32_t subsystem = ReadLe16(stub.data() + peHeader + 24 + 68);
    if (subsystem != kGuiSubsystem) {
        return "it is a Windows program, but not one without a console window";
    }
    if (!HoldsWideText(stub, kInternalName)) {
        return std::string("it is a Windows program without the launcher's version information (") +
               kInternalName + ")";
    }
    return std::string();
}

bool RemoveStubSignature(std::vector<unsigned char>& stub, uint32_t& removed, std::string& error) {
    removed = 0;
    size_t field = SecurityDirectoryField(stub.data(), std::min(stub.size(), kHeaderBlockLength));
    if (field == 0 ||
        (ReadLe32(stub.data() + field) == 0 && ReadLe32(stub.data() + field + 4) == 0)) {
        return true;
    }
    CertificateTable table =
        FindCertificateTable(stub.data(), std::min(stub.size(), kHeaderBlockLength), stub.size());
    if (!table.present) {
        error = "it names a certificate table that does not end the file";
        return false;
    }
    stub.resize(table.offset);
    std::fill(stub.begin() + static_cast<std::ptrdiff_t>(field),
              stub.begin() + static_cast<std::ptrdiff_t>(field + 8), 0);
    removed = table.size;
    return true;
}
