#pragma once
// Replacing every occurrence of one token in a text by a value.
#include <string>

// Every occurrence of token in text, from left to right and without overlap,
// replaced by value. The search runs over text only, never over inserted
// values. An empty token matches nothing, so the text comes back unchanged.
std::wstring ReplaceAllOccurrences(const std::wstring& text, const std::wstring& token,
                                   const std::wstring& value);

// Rewrites text (capacity newBufferLength wide characters, terminator
// included) in place with every substi replaced by paramValue, and traces the
// call in the log. A result that would not fit leaves text unchanged and says
// so in the log; the caller sizes the buffer so that this does not happen.
// Always returns 0.
int substituteParam(wchar_t* text, const wchar_t* substi, const wchar_t* paramValue,
                    unsigned newBufferLength);
