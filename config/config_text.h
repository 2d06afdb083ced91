#pragma once
// The configuration update's text logic, kept apart from the file system:
// the values written into the file, the event name file's reading, the
// UTF-8 conversions and the replacement of the tokens.
#include <array>
#include <cstddef>
#include <memory>
#include <string>

// A new copy of path with every "\" turned into "/". Null for a null path or
// when memory runs out.
std::unique_ptr<wchar_t[]> ToForwardSlashes(const wchar_t* path);

// "file://" + folder for the playback client, "file:///" + folder for the alternative one.
std::wstring LocalFolderUrl(bool playbackClient, const std::wstring& slashedFolder);

// The event name in an event name file's text: everything behind the first "="
// less one final line end (LF, CR LF or CR). Further "=" signs and inner line
// ends belong to the name. Empty when the text holds no "=".
std::wstring EventNameFromText(const std::wstring& text);

// UTF-8 to UTF-16 up to the first zero byte (or the end). valid, when given,
// tells whether every byte sequence was well formed; malformed ones become U+FFFD.
std::wstring DecodeUtf8(const std::string& bytes, bool* valid = nullptr);
std::string EncodeUtf8(const std::wstring& text);

// One token and the value that replaces it.
struct TokenValue {
    const wchar_t* token;
    std::wstring value;
};
constexpr size_t kConfigTokenCount = 4;

// The tokens in the order they are replaced. Each replacement also searches
// the values that the earlier ones inserted.
using ConfigTokenList = std::array<TokenValue, kConfigTokenCount>;
ConfigTokenList ConfigTokens(const std::wstring& url, const std::wstring& country,
                             const std::wstring& eventName, const std::wstring& language);

// Where the text of a configuration file's bytes ends: at the first zero
// byte, or the end. Whatever follows a zero byte is kept as it was rather
// than cut off.
size_t ConfigTextEnd(const std::string& bytes);

// The bytes with each token (as UTF-8) replaced by its value (as UTF-8), in
// the order of the list, each step searching what the steps before produced;
// every other byte stays as it was. For text that is not valid UTF-8.
std::string SubstituteInBytes(const std::string& bytes, const ConfigTokenList& tokens);

// The capacity (wide characters, terminator included) of the working text:
// twice the decoded text's length with its terminator, or more when a
// replacement, at any step, would need more room than that.
size_t WorkingTextCapacity(const std::wstring& text, const ConfigTokenList& tokens);
