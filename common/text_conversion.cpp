#include "common/text_conversion.h"

#include <climits>
#include <cstring>

AnsiCodePageFunction AnsiCodePage = GetACP;

namespace {

UINT EffectiveCodePage(UINT codePage) {
    return codePage == CP_ACP ? AnsiCodePage() : codePage;
}

}  // namespace

bool WideFromCodePage(UINT codePage, const char* text, size_t length, DWORD flags,
                      std::wstring& wide) {
    wide.clear();
    codePage = EffectiveCodePage(codePage);
    if (codePage == CP_UTF8) {
        flags &= MB_ERR_INVALID_CHARS;
    }
    if (length == 0) {
        return text != nullptr;
    }
    if (text == nullptr || length > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    int count = static_cast<int>(length);
    int needed = MultiByteToWideChar(codePage, flags, text, count, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    wide.assign(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(codePage, flags, text, count, &wide[0], needed) != needed) {
        wide.clear();
        return false;
    }
    return true;
}

bool WideFromCodePage(UINT codePage, const char* text, DWORD flags, std::wstring& wide) {
    return WideFromCodePage(codePage, text, text != nullptr ? std::strlen(text) : 0, flags, wide);
}

bool NarrowFromWide(UINT codePage, const std::wstring& wide, DWORD flags, std::string& narrow,
                    bool* lossy) {
    narrow.clear();
    if (lossy != nullptr) {
        *lossy = false;
    }
    codePage = EffectiveCodePage(codePage);
    if (codePage == CP_UTF8) {
        flags =
            (flags & (WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS)) != 0 ? WC_ERR_INVALID_CHARS : 0;
    }
    if (wide.empty()) {
        return true;
    }
    if (wide.size() > static_cast<size_t>(INT_MAX)) {
        return false;
    }
    int count = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    // UTF-8 takes no default-character query.
    BOOL* usedDefaultQuery = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int needed =
        WideCharToMultiByte(codePage, flags, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return false;
    }
    narrow.assign(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(codePage, flags, wide.data(), count, &narrow[0], needed, nullptr,
                            usedDefaultQuery) != needed) {
        narrow.clear();
        return false;
    }
    if (lossy != nullptr) {
        *lossy = usedDefault != FALSE;
    }
    return true;
}
