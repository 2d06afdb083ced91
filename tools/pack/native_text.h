#pragma once
// Text between the tool (UTF-8), the file system and the launcher, which reads
// its property text and entry names in the ANSI code page of the machine.
#include <filesystem>
#include <string>

std::filesystem::path PathFromUtf8(const std::string& text);
std::string PathToUtf8(const std::filesystem::path& path);

// Converts UTF-8 text to the bytes the launcher reads. On Windows these are in
// the ANSI code page; a character that page lacks is an error. Elsewhere the
// bytes stay as they are.
bool ToLauncherText(const std::string& utf8, std::string& bytes, std::string& error);
// The same for a file name as the file system holds it.
bool FileNameToLauncherText(const std::filesystem::path& name, std::string& bytes,
                            std::string& error);
// Whether a stored name made by FileNameToLauncherText is UTF-8 beyond ASCII,
// which the zip marks with a flag for readers that look at it.
bool LauncherNameIsUtf8(const std::string& bytes);
// The other way, for showing launcher text: ANSI bytes to UTF-8 on Windows.
std::string LauncherTextToUtf8(const std::string& bytes);
