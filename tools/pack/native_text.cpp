#include "tools/pack/native_text.h"

#include <cstdio>

#include "tools/pack/payload_rules.h"

#ifdef _WIN32
#include <windows.h>
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

#ifdef _WIN32
std::string Utf8FromWide(const std::wstring& wide, DWORD flags) {
    if (wide.empty()) {
        return std::string();
    }
    int length = WideCharToMultiByte(CP_UTF8, flags, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, flags, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                            length, nullptr, nullptr);
    }
    return utf8;
}
#endif

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return path.u8string();
}

bool FileNameToUtf8(const std::filesystem::path& name, std::string& utf8, std::string& error) {
#ifdef _WIN32
    utf8 = Utf8FromWide(name.native(), WC_ERR_INVALID_CHARS);
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
        int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                         nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
        if (length > 0) {
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0],
                                length);
            return Utf8FromWide(wide, 0);
        }
    }
#endif
    return EscapeBeyondAscii(bytes);
}
