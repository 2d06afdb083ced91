#pragma once
// ASCII letters without case, every other character as it is: names are
// compared this way wherever the answer must not depend on the user's locale
// (device names, member names, paths the platform reports).
#include <string_view>

template <typename Char>
constexpr Char FoldAscii(Char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
constexpr bool EqualIgnoringAsciiCase(std::basic_string_view<Char> a,
                                      std::basic_string_view<Char> b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// text begins with prefix, ASCII letters compared without case.
template <typename Char>
constexpr bool BeginsIgnoringAsciiCase(std::basic_string_view<Char> text,
                                       std::basic_string_view<Char> prefix) {
    return text.size() >= prefix.size() &&
           EqualIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}
