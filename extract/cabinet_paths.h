#pragma once
// Narrow (UTF-8) path text for cabinet extraction. Every path built
// here must fit a buffer of kCabinetPathCapacity bytes, terminator included;
// the functions that build one refuse (return false, empty output) otherwise.
#include <cstddef>
#include <memory>

// Room for the UTF-8 form of any 259-character wide path (up to three bytes
// for each UTF-16 unit) and its terminator. The wide path that reaches the
// file system must still fit 260 characters (see cabinet_file_calls.h).
constexpr size_t kCabinetPathCapacity = 3 * 259 + 1;

// A new copy of path up to, not including, its last backslash. A backslash at
// index 0 does not count, so "\a", "abc" and "" give "". Null only when memory
// runs out.
std::unique_ptr<char[]> GetParentPath(const char* path);

// folder with a backslash appended unless it already ends in one. An empty or
// null folder is refused.
bool FormDestinationFolder(const char* folder, char (&out)[kCabinetPathCapacity]);

// Splits the cabinet path at its last backslash: folderPart keeps the
// backslash, namePart is the rest. Without a backslash the folder part is empty.
bool SplitCabinetPath(const char* cabinet, char (&folderPart)[kCabinetPathCapacity],
                      char (&namePart)[kCabinetPathCapacity]);

// destination (ending in a backslash) followed by the member's name, with any
// "/" in the name written as "\", the separator the folder creation splits at.
bool JoinMemberPath(const char* destination, const char* memberName,
                    char (&out)[kCabinetPathCapacity]);
