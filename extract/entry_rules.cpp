#include "extract/entry_rules.h"

#include <algorithm>
#include <string>

#include "common/ascii_text.h"
#include "common/path_components.h"

namespace {

template <typename Char>
bool IsNamed(std::basic_string_view<Char> text, const char* name) {
    std::basic_string<Char> wanted(name, name + std::char_traits<char>::length(name));
    return EqualIgnoringAsciiCase(text, std::basic_string_view<Char>(wanted));
}

// The length of the device number at the start of text, or 0: a digit one to
// nine, or the superscripts one to three, which the platform takes as device
// numbers too (COM\u00b9 is COM1).
size_t DeviceNumberLength(std::basic_string_view<char> text) {
    if (!text.empty() && text[0] >= '1' && text[0] <= '9') {
        return 1;
    }
    bool superscript = text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xC2 &&
                       (static_cast<unsigned char>(text[1]) == 0xB9 ||
                        static_cast<unsigned char>(text[1]) == 0xB2 ||
                        static_cast<unsigned char>(text[1]) == 0xB3);
    return superscript ? 2 : 0;
}

size_t DeviceNumberLength(std::basic_string_view<wchar_t> text) {
    if (text.empty()) {
        return 0;
    }
    wchar_t c = text[0];
    return (c >= L'1' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3 ? 1 : 0;
}

// The platform opens a device instead of a file for these base names (the
// part before the first dot, trailing blanks trimmed), with any extension.
template <typename Char>
bool IsDeviceName(std::basic_string_view<Char> component) {
    std::basic_string_view<Char> base = component.substr(0, component.find(Char('.')));
    while (!base.empty() && base.back() == Char(' ')) {
        base.remove_suffix(1);
    }
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (IsNamed(base, device)) {
            return true;
        }
    }
    if (base.size() < 4 ||
        !(IsNamed(base.substr(0, 3), "COM") || IsNamed(base.substr(0, 3), "LPT"))) {
        return false;
    }
    size_t number = DeviceNumberLength(base.substr(3));
    return number != 0 && base.size() == 3 + number;
}

template <typename Char>
bool OnlyDotsAndBlanks(std::basic_string_view<Char> component) {
    return !component.empty() && component.find_first_not_of(std::basic_string<Char>{
                                     Char('.'), Char(' ')}) == std::basic_string_view<Char>::npos;
}

// The position of the last separator, or npos.
template <typename Char>
size_t LastSeparator(std::basic_string_view<Char> name) {
    for (size_t i = name.size(); i-- > 0;) {
        if (IsPathSeparator(name[i])) {
            return i;
        }
    }
    return std::basic_string_view<Char>::npos;
}

size_t Utf16Units(std::string_view text) {
    return Utf16Length(text);
}
size_t Utf16Units(std::wstring_view text) {
    return text.size();
}

// The number of continuation bytes after lead, and the least value of the
// second byte, for a well-formed sequence; false for a byte that cannot lead.
bool SequenceShape(unsigned char lead, size_t& follow, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (lead < 0x80) {
        follow = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        follow = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        follow = 2;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // shorter forms are overlong
        high = lead == 0xED ? 0x9F : 0xBF;  // ED A0 and up are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        follow = 3;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // past U+10FFFF
    } else {
        return false;
    }
    return true;
}

}  // namespace

template <typename Char>
EntryNameVerdict JudgeEntryName(std::basic_string_view<Char> name) {
    if (name.empty()) {
        return EntryNameVerdict::Empty;
    }
    if (IsPathSeparator(name[0])) {
        return EntryNameVerdict::StartsAtRoot;
    }
    if (name.find(Char(':')) != std::basic_string_view<Char>::npos) {
        return EntryNameVerdict::HoldsColon;
    }
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsPathSeparator(name[i])) {
            continue;
        }
        std::basic_string_view<Char> component = name.substr(start, i - start);
        if (OnlyDotsAndBlanks(component)) {
            return EntryNameVerdict::LeadsOutside;
        }
        if (!component.empty() && IsDeviceName(component)) {
            return EntryNameVerdict::NamesDevice;
        }
        start = i + 1;
    }
    return EntryNameVerdict::Inside;
}

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        size_t follow = 0;
        unsigned char low = 0;
        unsigned char high = 0;
        if (!SequenceShape(static_cast<unsigned char>(bytes[i]), follow, low, high) ||
            follow > bytes.size() - i - 1) {
            return false;
        }
        for (size_t k = 1; k <= follow; ++k) {
            unsigned char c = static_cast<unsigned char>(bytes[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (char byte : utf8) {
        unsigned char c = static_cast<unsigned char>(byte);
        if ((c & 0xC0) != 0x80) {
            units += c >= 0xF0 ? 2 : 1;
        }
    }
    return units;
}

StoredNameVerdict JudgeStoredName(std::string_view bytes, bool utf8Flag) {
    if (bytes.size() > kLongestStoredName) {
        return StoredNameVerdict::TooLong;
    }
    if (bytes.find('\0') != std::string_view::npos) {
        return StoredNameVerdict::HoldsNul;
    }
    if (utf8Flag && !IsValidUtf8(bytes)) {
        return StoredNameVerdict::NotUtf8;
    }
    return StoredNameVerdict::Usable;
}

bool DependsOnCodePage(std::string_view bytes, bool utf8Flag) {
    if (utf8Flag) {
        return false;
    }
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

template <typename Char>
NestedArchiveKind NestedArchiveKindOf(std::basic_string_view<Char> name) {
    size_t separator = LastSeparator(name);
    std::basic_string_view<Char> last =
        separator == std::basic_string_view<Char>::npos ? name : name.substr(separator + 1);
    auto endsWith = [&](const char* suffix) {
        size_t length = std::char_traits<char>::length(suffix);
        return last.size() >= length && std::equal(suffix, suffix + length, last.end() - length,
                                                   [](char a, Char b) { return Char(a) == b; });
    };
    if (endsWith(".zip")) {
        return NestedArchiveKind::Zip;
    }
    return endsWith(".cab") ? NestedArchiveKind::Cabinet : NestedArchiveKind::None;
}

template <typename Char>
PathBound EntryPathBound(size_t baseLength, std::basic_string_view<Char> name) {
    bool folderEntry = !name.empty() && IsPathSeparator(name.back());
    std::basic_string_view<Char> file = folderEntry ? name.substr(0, name.size() - 1) : name;
    size_t separator = LastSeparator(file);
    std::basic_string_view<Char> folder =
        folderEntry
            ? file
            : file.substr(0, separator == std::basic_string_view<Char>::npos ? 0 : separator);
    if (!folder.empty() && baseLength + 1 + Utf16Units(folder) > kLongestFolderPath) {
        return PathBound::Folder;
    }
    if (!folderEntry && baseLength + 1 + Utf16Units(file) > kLongestFilePath) {
        return PathBound::File;
    }
    return PathBound::Fits;
}

size_t PathBoundLimit(PathBound bound) {
    return bound == PathBound::Folder ? kLongestFolderPath : kLongestFilePath;
}

bool CabinetPathFits(std::string_view utf8Path) {
    size_t separator = LastSeparator(utf8Path);
    size_t folderBytes = separator == std::string_view::npos ? 0 : separator + 1;
    return folderBytes <= kLongestCabinetLibraryText &&
           utf8Path.size() - folderBytes <= kLongestCabinetLibraryText;
}

template EntryNameVerdict JudgeEntryName<char>(std::string_view);
template EntryNameVerdict JudgeEntryName<wchar_t>(std::wstring_view);
template NestedArchiveKind NestedArchiveKindOf<char>(std::string_view);
template NestedArchiveKind NestedArchiveKindOf<wchar_t>(std::wstring_view);
template PathBound EntryPathBound<char>(size_t, std::string_view);
template PathBound EntryPathBound<wchar_t>(size_t, std::wstring_view);
