#include "diagnostics/message_catalogue.h"

#include "common/wide_format.h"

std::map<std::wstring, std::wstring> MessageCatalogue;

bool LookUpMessage(unsigned messageNumber, wchar_t* output, size_t capacity) {
    wchar_t key[34];
    FormatWide(key, 34, L"%u", messageNumber);
    return LookUpMessageText(key, output, capacity);
}

bool LookUpMessageText(const wchar_t* key, wchar_t* output, size_t capacity) {
    if (output == nullptr || capacity == 0) {
        return false;
    }
    auto found = MessageCatalogue.find(key);
    if (found == MessageCatalogue.end() || found->second.empty()) {
        output[0] = L'\0';
        return false;
    }
    size_t length = found->second.copy(output, capacity - 1);
    output[length] = L'\0';
    return true;
}
