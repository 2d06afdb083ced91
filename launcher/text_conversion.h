#pragma once
// Conversions between the platform's narrow code pages (ANSI, UTF-8) and the
// UTF-16 text the program works in.
#include <windows.h>

#include <cstddef>
#include <string>

// length bytes of text in codePage to UTF-16. With MB_ERR_INVALID_CHARS in
// flags, invalid bytes make it fail; without, they become U+FFFD. False (and
// an empty result) when the text does not convert. Empty text converts to "".
bool WideFromCodePage(UINT codePage, const char* text, size_t length, DWORD flags,
                      std::wstring& wide);
// The same for zero-terminated text.
bool WideFromCodePage(UINT codePage, const char* text, DWORD flags, std::wstring& wide);

// UTF-16 to codePage. For code pages other than UTF-8, lossy (when given) is
// set when a character had no equivalent and was replaced.
bool NarrowFromWide(UINT codePage, const std::wstring& wide, DWORD flags, std::string& narrow,
                    bool* lossy = nullptr);
