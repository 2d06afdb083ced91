#pragma once
// Writing the values known at launch into the extracted configuration file.
#include <array>
#include <cstddef>
#include <string>

constexpr const wchar_t* kEventNameFileName = L"\\eventname.prop";
constexpr int kUnreadableFileProblem = 201;
constexpr int kUnreadableFileExitCode = 10;

// Replaces the four tokens in configPath's file (local folder URL, country,
// event name, language) and rewrites it in place. A missing or empty file is
// left alone. When the event name file or the configuration file exists but
// cannot be opened for reading and writing or read in full, it reports
// problem 201, closes the log and ends the process with exit code 10. The
// local folder URL takes the form that the chosen client reads: "file://" for
// the playback client's file, "file:///" for the alternative client's. A file
// that is not valid UTF-8 gets its tokens replaced in its bytes, and every
// other byte stays as it was.
void UpdatePBCF(const wchar_t* configPath, bool playbackClient);

// A new copy of path with every "\" turned into "/"; the caller releases it
// with delete[]. Null for a null path or when memory runs out.
wchar_t* ToForwardSlashes(const wchar_t* path);

// What ends the process after an unreadable file; it is called once the log is
// closed. Unit tests put a recorder here; UpdatePBCF returns when it does.
using ProcessExitFunction = void (*)(int exitCode);
extern ProcessExitFunction ConfigUpdateExit;

// Text logic, kept apart from the file system.

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

// The bytes with each token (as UTF-8) replaced by its value (as UTF-8), in
// the order of the list, each step searching what the steps before produced;
// every other byte stays as it was. For text that is not valid UTF-8.
std::string SubstituteInBytes(const std::string& bytes, const ConfigTokenList& tokens);

// The capacity (wide characters, terminator included) of the working text:
// twice the decoded text's length with its terminator, or more when a
// replacement, at any step, would need more room than that.
size_t WorkingTextCapacity(const std::wstring& text, const ConfigTokenList& tokens);
