#pragma once
// The few process-wide values that the launch sets once and the later steps read.
#include <cstddef>

// Room of every path buffer, in wide characters, terminator included.
constexpr size_t kPathCapacity = 260;

// The work folder of this run: the extracted tree, without a trailing backslash.
extern wchar_t WorkFolder[kPathCapacity];

struct LocaleCodeSet {
    wchar_t language[3];  // at most two characters, e.g. "en"
    wchar_t country[3];   // at most two characters, e.g. "US"
};
extern LocaleCodeSet LocaleCodes;
