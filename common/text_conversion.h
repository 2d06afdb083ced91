#pragma once
// Conversions between the platform's narrow code pages (ANSI, UTF-8) and the
// UTF-16 text the program works in.
#include <windows.h>

#include <cstddef>
#include <string>

// The code page that CP_ACP stands for in the conversions below: the
// system's ANSI code page. Unit tests put a function here that answers 65001,
// to run the conversions as on a system set to use UTF-8 as its ANSI code page.
using AnsiCodePageFunction = UINT(WINAPI*)();
extern AnsiCodePageFunction AnsiCodePage;

// The conversions below pass CP_ACP on as the code page it stands for. When
// that (or the code page given) is UTF-8, flags that UTF-8 conversions refuse
// are not passed: MB_ERR_INVALID_CHARS is kept, WC_NO_BEST_FIT_CHARS becomes
// WC_ERR_INVALID_CHARS (a lone surrogate makes the conversion fail rather
// than turn into U+FFFD), and no default-character query is made.

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
