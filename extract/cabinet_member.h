#pragma once
// Which cabinet members are extracted: text logic on a member's stored name.

// The top-level member that carries the package's own properties; it is not
// extracted unless asked for by name.
constexpr const char* kPackagePropertiesName = "package.properties";

// Whole-name comparison that ignores the case of ASCII letters only.
bool SameNameIgnoringAsciiCase(const char* left, const char* right);

// With onlyName null every member except a top-level "package.properties"
// (any letter case) is selected; otherwise only the member of that name.
bool IsCabinetMemberSelected(const char* memberName, const char* onlyName);

// The attributes a member's file gets from its stored attribute bits: only
// read-only 0x01, hidden 0x02, system 0x04 and archive 0x20 are kept (execute
// 0x40 and the UTF-8 name flag 0x80 are not file attributes); none of them
// gives FILE_ATTRIBUTE_NORMAL (0x80).
unsigned long MemberFileAttributes(unsigned short storedAttributes);
