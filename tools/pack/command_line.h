#pragma once
// The tool's command line: which command, and its file names, locale text
// and switches. Arguments come in as UTF-8 on every platform; options and
// operands may come in any order, and "--" ends the options.
#include <string>
#include <vector>

#include "tools/pack/stub_branding.h"

enum class CommandMode { Pack, Inspect, Test, Help, Version };

struct PackRequest {
    std::string launcher;               // path of the launcher stub; empty: the installed one
    std::string locale;                 // the property text, as typed
    std::string payload;                // a folder or a zip archive
    std::string output;                 // the package to write
    std::vector<std::string> excludes;  // payload paths left out (-x), as typed
    bool quiet = false;                 // no notes, no progress, no summary
    bool verbose = false;               // each entry as it is added, and what is left out
    bool progress = false;              // progress even when stderr is not a terminal
    int level = 6;                      // deflate level 0-9; 0 stores every file
    unsigned threads = 0;               // deflating threads; 0: one per core
    StubBranding branding;              // the stub's icon and version texts, when given
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error;  // what is wrong with the command line, when not ok
    // The command the line asks for; with a usage error, the one whose usage
    // line is shown (Help when none can be told).
    CommandMode mode = CommandMode::Help;
    PackRequest pack;
    std::string packagePath;  // the package of --inspect and --test
    bool json = false;
};

// arguments: everything after the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage line of one command (every line for Help), shown with a usage
// error; the full help.
std::string UsageText(CommandMode mode = CommandMode::Help);
std::string HelpText();
std::string VersionText();
