#pragma once
// The tool's command line: which command, and its file names and locale text.
// Arguments come in as UTF-8 on every platform.
#include <string>
#include <vector>

enum class CommandMode { Pack, Inspect, Help, Version };

struct PackRequest {
    std::string launcher;  // path of the launcher stub
    std::string locale;    // the property text, as typed
    std::string payload;   // a folder or a zip archive
    std::string output;    // the package to write
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error;  // what is wrong with the command line, when not ok
    CommandMode mode = CommandMode::Help;
    PackRequest pack;
    std::string inspectPath;
};

// arguments: everything after the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The short usage lines shown with a usage error, and the full help.
std::string UsageText();
std::string HelpText();
std::string VersionText();
