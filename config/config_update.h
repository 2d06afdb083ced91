#pragma once
// Writing the values known at launch into the extracted configuration file.
#include "config/config_text.h"
#include "package/payload_names.h"

constexpr const wchar_t* kEventNameFileName = L"\\" VELMAR_EVENT_NAME_FILE;
constexpr int kUnreadableFileProblem = 201;
constexpr int kUnreadableFileExitCode = 10;

// Replaces the four tokens in configPath's file (local folder URL, country,
// event name, language) and rewrites it in place. A missing or empty file is
// left alone. When the event name file or the configuration file exists but
// cannot be opened for reading and writing or read in full, it reports
// problem 201, closes the log and ends the process with exit code 10. The
// local folder URL takes the form that the chosen client reads: "file://" for
// the playback client's file, "file:///" for the alternative client's. A file
// that is not valid UTF-8 gets its tokens replaced in its bytes, and every
// other byte stays as it was.
void UpdatePBCF(const wchar_t* configPath, bool playbackClient);

// What ends the process after an unreadable file; it is called once the log is
// closed. Unit tests put a recorder here; UpdatePBCF returns when it does.
using ProcessExitFunction = void (*)(int exitCode);
extern ProcessExitFunction ConfigUpdateExit;
