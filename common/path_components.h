#pragma once
// Reading paths component by component, with "\" and "/" both as separators.

// In wide or narrow text alike.
template <typename Char>
constexpr bool IsPathSeparator(Char c) {
    return c == '\\' || c == '/';
}

// Some component of path is made of dots and blanks only, such as "." or "..":
// the platform trims trailing dots and blanks, so such a component may end up
// meaning the folder itself or its parent.
bool HasDotComponent(const wchar_t* path);
