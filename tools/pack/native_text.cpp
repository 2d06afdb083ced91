#include "tools/pack/native_text.h"

#include <cstdio>

#include "tools/pack/payload_rules.h"

#ifdef _WIN32
#include "common/text_conversion.h"
#endif

namespace {

std::string EscapeBeyondAscii(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            shown.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return path.u8string();
}

bool FileNameToUtf8(const std::filesystem::path& name, std::string& utf8, std::string& error) {
#ifdef _WIN32
    utf8 = Utf8FromWide(name.native(), true);
    if (utf8.empty() && !name.native().empty()) {
        error = "it holds a character that is not valid Unicode";
        return false;
    }
#else
    utf8 = name.native();
    if (!IsValidUtf8(utf8)) {
        error = "\"" + EscapeBeyondAscii(utf8) + "\" is not valid UTF-8";
        return false;
    }
#endif
    return true;
}

std::string StoredNameToUtf8(const std::string& bytes, bool utf8Flag) {
    if (!NeedsUtf8Flag(bytes) || (utf8Flag && IsValidUtf8(bytes))) {
        return bytes;
    }
#ifdef _WIN32
    if (!utf8Flag) {
        std::wstring wide;
        if (WideFromCodePage(CP_ACP, bytes.data(), bytes.size(), 0, wide)) {
            return Utf8FromWide(wide);
        }
    }
#endif
    return EscapeBeyondAscii(bytes);
}

std::string AsciiFromWide(const wchar_t* text) {
    std::string ascii;
    for (; *text != L'\0'; ++text) {
        ascii += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return ascii;
}

#ifdef _WIN32
std::string Utf8FromWide(const std::wstring& wide, bool strict) {
    std::string utf8;
    NarrowFromWide(CP_UTF8, wide, strict ? WC_ERR_INVALID_CHARS : 0, utf8);
    return utf8;
}

std::wstring WideFromUtf8(const std::string& utf8) {
    std::wstring wide;
    WideFromCodePage(CP_UTF8, utf8.data(), utf8.size(), 0, wide);
    return wide;
}
#endif
