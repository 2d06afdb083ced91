#include "tools/pack/native_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

#ifndef _WIN32
bool IsValidUtf8(const std::string& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t follow = 0;
        if (lead < 0x80) {
            follow = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            follow = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            follow = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            follow = 3;
        } else {
            return false;
        }
        if (follow > bytes.size() - i - 1) {
            return false;
        }
        for (size_t k = 1; k <= follow; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}
#endif

#ifdef _WIN32
std::wstring WideFrom(UINT codePage, const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            length);
    }
    return wide;
}

std::string NarrowFrom(UINT codePage, const std::wstring& wide, bool& lossy) {
    lossy = false;
    if (wide.empty()) {
        return std::string();
    }
    // A system whose ANSI code page is UTF-8 refuses the flag and the query
    // for CP_ACP too; UTF-8 holds every well-formed character.
    if (codePage == CP_ACP && GetACP() == CP_UTF8) {
        codePage = CP_UTF8;
    }
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, usedDefaultPointer);
    std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                            length, nullptr, usedDefaultPointer);
    }
    lossy = length <= 0 || usedDefault;
    return narrow;
}

bool WideToLauncherText(const std::wstring& wide, std::string& bytes, std::string& error) {
    bool lossy = false;
    bytes = NarrowFrom(CP_ACP, wide, lossy);
    if (lossy) {
        bool ignored = false;
        error = "\"" + NarrowFrom(CP_UTF8, wide, ignored) +
                "\" has characters that the ANSI code page of this machine lacks";
        return false;
    }
    return true;
}
#endif

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return path.u8string();
}

bool ToLauncherText(const std::string& utf8, std::string& bytes, std::string& error) {
#ifdef _WIN32
    if (!IsAscii(utf8)) {
        return WideToLauncherText(WideFrom(CP_UTF8, utf8), bytes, error);
    }
#endif
    (void)error;
    bytes = utf8;
    return true;
}

bool FileNameToLauncherText(const std::filesystem::path& name, std::string& bytes,
                            std::string& error) {
#ifdef _WIN32
    return WideToLauncherText(name.native(), bytes, error);
#else
    (void)error;
    bytes = name.native();
    return true;
#endif
}

bool LauncherNameIsUtf8(const std::string& bytes) {
#ifdef _WIN32
    (void)bytes;
    return false;
#else
    return !IsAscii(bytes) && IsValidUtf8(bytes);
#endif
}

std::string LauncherTextToUtf8(const std::string& bytes) {
#ifdef _WIN32
    bool ignored = false;
    return NarrowFrom(CP_UTF8, WideFrom(CP_ACP, bytes), ignored);
#else
    return bytes;
#endif
}
