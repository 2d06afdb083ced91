#include "tools/pack/command_line.h"

#include <set>

namespace {

// Stores an option's value in the parsed command line; a text saying what is
// wrong with the value, or empty.
using StoreFunction = std::string (*)(ParsedCommandLine& parsed, const std::string& value);

struct OptionSpec {
    const char* name;
    const char* shortName;  // or null
    bool takesValue;
    bool mayBeEmpty;  // an empty locale text is refused later with the other locale checks
    StoreFunction store;
};

template <std::string PackRequest::*field>
std::string StoreText(ParsedCommandLine& parsed, const std::string& value) {
    parsed.pack.*field = value;
    return std::string();
}

template <bool PackRequest::*flag>
std::string SetSwitch(ParsedCommandLine& parsed, const std::string&) {
    parsed.pack.*flag = true;
    return std::string();
}

std::string StoreInspectPath(ParsedCommandLine& parsed, const std::string& value) {
    parsed.inspectPath = value;
    return std::string();
}

std::string SetJson(ParsedCommandLine& parsed, const std::string&) {
    parsed.json = true;
    return std::string();
}

std::string StoreLevel(ParsedCommandLine& parsed, const std::string& value) {
    if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
        return "--level takes a number from 0 to 9, not " + value;
    }
    parsed.pack.level = value[0] - '0';
    return std::string();
}

std::string StoreThreads(ParsedCommandLine& parsed, const std::string& value) {
    unsigned long count =
        value.find_first_not_of("0123456789") == std::string::npos && value.size() <= 3
            ? std::stoul(value)
            : 0;
    if (count < 1 || count > 256) {
        return "--threads takes a number from 1 to 256, not " + value;
    }
    parsed.pack.threads = static_cast<unsigned>(count);
    return std::string();
}

const OptionSpec kOptions[] = {
    {"--launcher", nullptr, true, false, StoreText<&PackRequest::launcher>},
    {"--locale", nullptr, true, true, StoreText<&PackRequest::locale>},
    {"--payload", nullptr, true, false, StoreText<&PackRequest::payload>},
    {"--output", "-o", true, false, StoreText<&PackRequest::output>},
    {"--inspect", nullptr, true, false, StoreInspectPath},
    {"--level", nullptr, true, false, StoreLevel},
    {"--threads", nullptr, true, false, StoreThreads},
    {"--quiet", "-q", false, false, SetSwitch<&PackRequest::quiet>},
    {"--verbose", "-v", false, false, SetSwitch<&PackRequest::verbose>},
    {"--progress", nullptr, false, false, SetSwitch<&PackRequest::progress>},
    {"--json", nullptr, false, false, SetJson},
};

ParsedCommandLine UsageError(const std::string& message) {
    ParsedCommandLine parsed;
    parsed.ok = false;
    parsed.error = message;
    return parsed;
}

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& option : kOptions) {
        if (name == option.name || (option.shortName != nullptr && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

bool HasSwitch(const std::vector<std::string>& arguments, const char* a, const char* b) {
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            return false;
        }
        if (argument == a || (b != nullptr && argument == b)) {
            return true;
        }
    }
    return false;
}

// Where the parse stands: the next argument, whether "--" came, what was
// parsed so far and which options (by long name) were given.
struct ParserState {
    explicit ParserState(const std::vector<std::string>& given) : arguments(given) {}
    const std::vector<std::string>& arguments;
    size_t next = 0;
    bool optionsEnded = false;
    ParsedCommandLine parsed;
    std::set<std::string> seen;
};

// One argument: the option it names, with its value when it carries one.
struct Argument {
    const OptionSpec* option = nullptr;
    std::string name;
    std::string value;
    bool hasInlineValue = false;
};

// An option's name, and its value when given as "--name=value".
void SplitInlineValue(const std::string& text, Argument& argument) {
    size_t equals = text.find('=');
    if (text.rfind("--", 0) == 0 && equals != std::string::npos) {
        argument.name = text.substr(0, equals);
        argument.value = text.substr(equals + 1);
        argument.hasInlineValue = true;
        return;
    }
    argument.name = text;
}

// The option an argument names; an operand stands for the payload, once.
std::string IdentifyArgument(const ParserState& state, const std::string& text,
                             Argument& argument) {
    if (!state.optionsEnded && text.size() > 1 && text[0] == '-') {
        SplitInlineValue(text, argument);
        argument.option = FindOption(argument.name);
        return argument.option == nullptr ? "unknown option " + argument.name : std::string();
    }
    if (state.seen.count("--payload") != 0) {
        return "unexpected argument " + text;
    }
    argument.option = FindOption("--payload");
    argument.value = text;
    argument.hasInlineValue = true;
    return std::string();
}

// The option's value: given inline, or the next argument taken as it is,
// even when it starts with "-".
std::string TakeValue(ParserState& state, Argument& argument) {
    const OptionSpec& option = *argument.option;
    std::string name = option.name;
    if (state.seen.count(name) != 0) {
        return name + " given twice";
    }
    if (option.takesValue && !argument.hasInlineValue) {
        if (state.next >= state.arguments.size()) {
            return name + " needs a value";
        }
        argument.value = state.arguments[state.next++];
    }
    if (!option.takesValue && argument.hasInlineValue) {
        return name + " takes no value";
    }
    if (option.takesValue && argument.value.empty() && !option.mayBeEmpty) {
        return name + " needs a value";
    }
    return std::string();
}

// Which options a mode may not be given, and which it needs.
std::string CheckCombination(const ParserState& state) {
    if (state.seen.count("--inspect") != 0) {
        for (const OptionSpec& option : kOptions) {
            std::string name = option.name;
            if (state.seen.count(name) != 0 && name != "--inspect" && name != "--json") {
                return "--inspect takes no other option but --json, but " + name + " was given";
            }
        }
        return std::string();
    }
    if (state.seen.count("--json") != 0) {
        return "--json goes with --inspect";
    }
    for (const char* needed : {"--launcher", "--locale", "--payload", "--output"}) {
        if (state.seen.count(needed) == 0) {
            return std::string("missing ") + needed;
        }
    }
    if (state.parsed.pack.quiet && state.parsed.pack.verbose) {
        return "--quiet and --verbose exclude each other";
    }
    return std::string();
}

// Reads every argument into the state; what is wrong with the line, or empty.
std::string ParseArguments(ParserState& state) {
    while (state.next < state.arguments.size()) {
        const std::string& text = state.arguments[state.next++];
        if (!state.optionsEnded && text == "--") {
            state.optionsEnded = true;
            continue;
        }
        Argument argument;
        std::string problem = IdentifyArgument(state, text, argument);
        if (problem.empty()) {
            problem = TakeValue(state, argument);
        }
        if (problem.empty()) {
            problem = argument.option->store(state.parsed, argument.value);
        }
        if (!problem.empty()) {
            return problem;
        }
        state.seen.insert(argument.option->name);
    }
    return CheckCombination(state);
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    // Help and version win over anything else on the line.
    if (HasSwitch(arguments, "--help", "-h") || HasSwitch(arguments, "--version", nullptr)) {
        ParsedCommandLine parsed;
        parsed.ok = true;
        parsed.mode =
            HasSwitch(arguments, "--help", "-h") ? CommandMode::Help : CommandMode::Version;
        return parsed;
    }
    if (arguments.empty()) {
        return UsageError("no command given");
    }
    ParserState state(arguments);
    std::string problem = ParseArguments(state);
    if (!problem.empty()) {
        return UsageError(problem);
    }
    state.parsed.ok = true;
    state.parsed.mode =
        state.seen.count("--inspect") != 0 ? CommandMode::Inspect : CommandMode::Pack;
    return state.parsed;
}

std::string UsageText() {
    return "usage: velmar-pack [-q | -v] [--level N] [--progress] --launcher FILE --locale ll_CC\n"
           "                   -o FILE [--payload] FOLDER_OR_ZIP\n"
           "       velmar-pack --inspect FILE [--json]\n"
           "       velmar-pack --help | --version\n";
}

std::string HelpText() {
    return UsageText() +
           "\n"
           "Makes a package: a copy of the launcher followed by the package marker, the locale\n"
           "text and the payload as a zip archive. Shows what the launcher finds in a package.\n"
           "\n"
           "  --launcher FILE   the launcher stub (velmar-launcher.exe), at most 500000 bytes;\n"
           "                    a signature on it is removed: sign the package after packing\n"
           "  --locale ll_CC    the locale: two lowercase letters, '_' or '-', two capitals\n"
           "  --payload PATH    a folder, zipped in name order with its times and attributes;\n"
           "                    or a zip archive, checked entry by entry and taken byte for byte\n"
           "                    (also the one operand, e.g. after --)\n"
           "  -o, --output FILE the package to write; replaced only once it is complete\n"
           "  --level N         deflate level 0-9 (default 6); 0 stores every file. Files that\n"
           "                    are compressed already (media, archives) are always stored\n"
           "  --threads N       deflate on N threads (default: one per core), same bytes\n"
           "  -q, --quiet       print nothing but errors\n"
           "  -v, --verbose     list each entry as it is added\n"
           "  --progress        show progress even when stderr is not a terminal\n"
           "  --inspect FILE    print what the launcher finds in a package\n"
           "  --json            with --inspect: the same as one JSON object\n"
           "  --                ends the options\n"
           "  -h, --help, --version\n"
           "\n"
           "Options also take the form --option=VALUE.\n"
           "SOURCE_DATE_EPOCH, when set, caps the stored file times.\n"
           "Exit codes: 0 done, 1 failure (nothing is written), 2 usage error.\n";
}

std::string VersionText() {
    return std::string("velmar-pack ") + VELMAR_VERSION + "\n";
}
