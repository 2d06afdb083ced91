#pragma once
// The platform's paths that several steps of a launch start from.
#include <string>

// The user's temporary folder as the platform reports it, ending in a
// backslash; empty when there is none or it does not fit a path buffer.
std::wstring TemporaryFolderPath();

// The short (8.3) form of a path, or the path itself when it has none that
// fits a path buffer.
std::wstring ShortPathOf(const std::wstring& path);

// The root of the volume that path lies on ("C:\", a mounted folder, or
// "\\server\share\"), as the platform tells; the path's drive part when it
// cannot. path need not exist.
std::wstring VolumeOf(const std::wstring& path);
