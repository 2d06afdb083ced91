#pragma once
// The tool's command line: which command, and its file names, locale text
// and switches. Arguments come in as UTF-8 on every platform.
#include <string>
#include <vector>

enum class CommandMode { Pack, Inspect, Help, Version };

struct PackRequest {
    std::string launcher;   // path of the launcher stub
    std::string locale;     // the property text, as typed
    std::string payload;    // a folder or a zip archive
    std::string output;     // the package to write
    bool quiet = false;     // no notes, no progress, no summary
    bool verbose = false;   // each entry as it is added
    bool progress = false;  // progress even when stderr is not a terminal
    int level = 6;          // deflate level 0-9; 0 stores every file
    unsigned threads = 0;   // deflating threads; 0: one per core
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error;  // what is wrong with the command line, when not ok
    CommandMode mode = CommandMode::Help;
    PackRequest pack;
    std::string inspectPath;
    bool json = false;
};

// arguments: everything after the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The short usage lines shown with a usage error, and the full help.
std::string UsageText();
std::string HelpText();
std::string VersionText();
