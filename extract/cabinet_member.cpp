#include "extract/cabinet_member.h"

#include "common/ascii_text.h"

bool SameNameIgnoringAsciiCase(const char* left, const char* right) {
    return left != nullptr && right != nullptr &&
           EqualIgnoringAsciiCase(std::string_view(left), std::string_view(right));
}

bool IsCabinetMemberSelected(const char* memberName, const char* onlyName) {
    if (memberName == nullptr) {
        return false;
    }
    if (onlyName == nullptr) {
        return !SameNameIgnoringAsciiCase(memberName, kPackagePropertiesName);
    }
    return SameNameIgnoringAsciiCase(memberName, onlyName);
}

unsigned long MemberFileAttributes(unsigned short storedAttributes) {
    constexpr unsigned short kKept = 0x27;
    constexpr unsigned long kNormal = 0x80;
    unsigned long kept = storedAttributes & kKept;
    return kept != 0 ? kept : kNormal;
}
