#include "extract/cabinet_member.h"

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool SameNameIgnoringAsciiCase(const char* left, const char* right) {
    if (left == nullptr || right == nullptr) {
        return false;
    }
    for (; *left != '\0' && *right != '\0'; ++left, ++right) {
        if (LowerAscii(*left) != LowerAscii(*right)) {
            return false;
        }
    }
    return *left == *right;
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
