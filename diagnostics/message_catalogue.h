#pragma once
// Message texts keyed by the decimal text of their message number. At start-up
// the table holds the texts of the problems that name their cause (202 to
// 207); the caption, the generic text and problem 201 have none, so their
// built-in fallback texts are what the user sees.
#include <map>
#include <string>

// std::wstring compares its 16-bit code units as unsigned numbers, and a key
// that is a prefix of another sorts first.
extern std::map<std::wstring, std::wstring> MessageCatalogue;

// The texts the table holds at start-up (tests put them back after changes).
std::map<std::wstring, std::wstring> StartUpMessageCatalogue();

// Looks up the text of a message number; false (and an empty output) on a miss.
bool LookUpMessage(unsigned messageNumber, wchar_t* output, size_t capacity);
// Looks up the text of a key; an empty text counts as absent. The output is
// always terminated and cut to capacity - 1 characters.
bool LookUpMessageText(const wchar_t* key, wchar_t* output, size_t capacity);
