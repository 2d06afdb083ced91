#pragma once
// Which client a launch starts from the extracted tree, and its command line.
#include <string>

#include "package/payload_names.h"

// Each fragment is appended to the work folder. The client fragments end in
// the blank that separates the program from its argument.
constexpr const wchar_t* kPlaybackClientFragment = L"\\" VELMAR_PLAYBACK_CLIENT " ";
constexpr const wchar_t* kAlternativeClientFragment = L"\\" VELMAR_ALTERNATIVE_CLIENT " ";
constexpr const wchar_t* kPlaybackConfigFragment = L"\\" VELMAR_PLAYBACK_CONFIGURATION;
constexpr const wchar_t* kAlternativeConfigFragment = L"\\" VELMAR_ALTERNATIVE_CONFIGURATION;

// The configuration path (work folder + 32 characters) must fit a 260-character
// buffer with its terminator; then the probe path and the command line fit too.
constexpr size_t kMaxClientWorkFolderLength = 227;

struct ClientStart {
    std::wstring programPath;  // the client program, for the report when it cannot start
    std::wstring configPath;
    std::wstring commandLine;
};

// The playback client (bin\velmar.exe with the .pbcf file) or the alternative
// client (bin\launcher.exe with the .pbrd file). Without a blank in the work
// folder the command line is the two paths, unquoted; a work folder with a
// blank gets both paths quoted, so that the argument is not split and the
// platform need not guess where the program's path ends.
ClientStart ComposeClientStart(const std::wstring& workFolder, bool playbackClient);
