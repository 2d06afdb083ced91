#pragma once
// Reading paths component by component, with "\" and "/" both as separators,
// and joining a folder and a name.
#include <cstddef>
#include <string>

// In wide or narrow text alike.
template <typename Char>
constexpr bool IsPathSeparator(Char c) {
    return c == '\\' || c == '/';
}

// Some component of path is made of dots and blanks only, such as "." or "..":
// the platform trims trailing dots and blanks, so such a component may end up
// meaning the folder itself or its parent.
bool HasDotComponent(const wchar_t* path);

// folder, then a "\" unless folder already ends in a separator, then the
// first nameLength characters of name, into out (capacity characters with the
// terminator). False, with out empty, when that does not fit.
template <typename Char>
bool JoinFolderAndName(const Char* folder, const Char* name, size_t nameLength, Char* out,
                       size_t capacity) {
    size_t folderLength = std::char_traits<Char>::length(folder);
    bool addSeparator = folderLength == 0 || !IsPathSeparator(folder[folderLength - 1]);
    size_t nameStart = folderLength + (addSeparator ? 1 : 0);
    if (capacity == 0 || nameLength >= capacity || nameStart >= capacity - nameLength) {
        if (capacity > 0) {
            out[0] = Char();
        }
        return false;
    }
    std::char_traits<Char>::copy(out, folder, folderLength);
    if (addSeparator) {
        out[folderLength] = Char('\\');
    }
    std::char_traits<Char>::copy(out + nameStart, name, nameLength);
    out[nameStart + nameLength] = Char();
    return true;
}
