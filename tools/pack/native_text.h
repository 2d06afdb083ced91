#pragma once
// Text between the tool (UTF-8), the file system and the zip. Stored names
// are UTF-8 on every platform, flagged as such where they are not plain
// ASCII; names without the flag are read the launcher's way, in the ANSI
// code page.
#include <filesystem>
#include <string>

std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

// A file name as the file system holds it, as UTF-8. False, with the reason,
// when it is no valid text (a lone surrogate, or bytes that are not UTF-8).
bool FileNameToUtf8(const std::filesystem::path& name, std::string& utf8, std::string& error);

// A stored name for showing: UTF-8 when flagged (or plain ASCII); otherwise
// the ANSI code page's reading on Windows, and bytes beyond ASCII as \xNN
// elsewhere. Invalid UTF-8 shows as \xNN too.
std::string StoredNameToUtf8(const std::string& bytes, bool utf8Flag);

// A reason the launcher's checks give in wide ASCII, as UTF-8; anything
// beyond ASCII shows as "?".
std::string AsciiFromWide(const wchar_t* text);

#ifdef _WIN32
// UTF-16, as the Windows API gives it, to UTF-8 and back; empty when the text
// does not convert. strict: a lone surrogate makes the conversion fail rather
// than turn into U+FFFD.
std::string Utf8FromWide(const std::wstring& wide, bool strict = false);
std::wstring WideFromUtf8(const std::string& utf8);
#endif
