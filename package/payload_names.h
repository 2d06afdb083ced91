#pragma once
// The files of a payload that the launcher looks for by name, relative to
// the work folder with "\" separators, and the time constant both sides need
// for zip times. One list for the launcher (wide, L"" NAME) and velmar-pack
// (narrow).
#include <cstdint>

// The playback client and its configuration; the alternative client and its.
#define VELMAR_PLAYBACK_CLIENT "bin\\velmar.exe"
#define VELMAR_PLAYBACK_CONFIGURATION "properties\\offlineplayback.pbcf"
#define VELMAR_ALTERNATIVE_CLIENT "bin\\launcher.exe"
#define VELMAR_ALTERNATIVE_CONFIGURATION "properties\\offlineplayback.pbrd"
// The event name file the launcher rewrites, at the top of the work folder.
#define VELMAR_EVENT_NAME_FILE "eventname.prop"

// 1970-01-01 is 11,644,473,600 seconds after 1601-01-01, where file times
// begin; file times count 100 ns.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;
