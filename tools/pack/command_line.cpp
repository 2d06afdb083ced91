#include "tools/pack/command_line.h"

#include <set>

namespace {

// Stores an option's value in the parsed command line; a text saying what is
// wrong with the value, or empty.
using StoreFunction = std::string (*)(ParsedCommandLine& parsed, const std::string& value);

// The commands an option belongs to.
constexpr unsigned kPackCommand = 1;
constexpr unsigned kInspectCommand = 2;
constexpr unsigned kTestCommand = 4;
constexpr unsigned kReadCommands = kInspectCommand | kTestCommand;

enum class ValueKind {
    None,        // a switch
    Required,    // one value, inline or as the next argument
    MayBeEmpty,  // the same, but "" is stored too (an empty locale is refused later, as others)
    Repeated,    // a value each time it is given
    Command,     // names the command; "--inspect=FILE" gives its operand inline
};

struct OptionSpec {
    const char* name;
    const char* shortName;  // or null
    ValueKind value;
    unsigned commands;
    StoreFunction store;
    const char* valueName;  // for the help, or null
    const char* help;       // lines after the first start with "\n"
};

template <std::string PackRequest::*field>
std::string StoreText(ParsedCommandLine& parsed, const std::string& value) {
    parsed.pack.*field = value;
    return std::string();
}

template <std::string StubBranding::*field>
std::string StoreBranding(ParsedCommandLine& parsed, const std::string& value) {
    parsed.pack.branding.*field = value;
    return std::string();
}

template <bool PackRequest::*flag>
std::string SetSwitch(ParsedCommandLine& parsed, const std::string&) {
    parsed.pack.*flag = true;
    return std::string();
}

std::string AddExclude(ParsedCommandLine& parsed, const std::string& value) {
    parsed.pack.excludes.push_back(value);
    return std::string();
}

std::string StorePackagePath(ParsedCommandLine& parsed, const std::string& value) {
    parsed.packagePath = value;
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
    bool digits = !value.empty() && value.size() <= 3 &&
                  value.find_first_not_of("0123456789") == std::string::npos;
    unsigned long count = digits ? std::stoul(value) : 0;
    if (count < 1 || count > 256) {
        return "--threads takes a number from 1 to 256, not " + value;
    }
    parsed.pack.threads = static_cast<unsigned>(count);
    return std::string();
}

const OptionSpec kOptions[] = {
    {"--launcher", nullptr, ValueKind::Required, kPackCommand, StoreText<&PackRequest::launcher>,
     "FILE",
     "the launcher stub (velmar-launcher.exe), at most 500000 bytes;\n"
     "a signature on it is removed: sign the package after packing.\n"
     "Default: velmar-launcher.exe beside velmar-pack, or in\n"
     "../share/velmar/ from there"},
    {"--locale", nullptr, ValueKind::MayBeEmpty, kPackCommand, StoreText<&PackRequest::locale>,
     "ll_CC", "the locale: two lowercase letters, '_' or '-', two capitals"},
    {"--payload", nullptr, ValueKind::Required, kPackCommand, StoreText<&PackRequest::payload>,
     "PATH",
     "a folder, zipped in name order with its times and attributes;\n"
     "or a zip archive, checked entry by entry and taken byte for byte\n"
     "(also the one operand, e.g. after --)"},
    {"--output", "-o", ValueKind::Required, kPackCommand, StoreText<&PackRequest::output>, "FILE",
     "the package to write; replaced only once it is complete"},
    {"--exclude", "-x", ValueKind::Repeated, kPackCommand, AddExclude, "PATTERN",
     "leave out the payload paths PATTERN matches, and what lies below\n"
     "them: '*' matches any characters, '/' included, '?' any one;\n"
     "\"*.tmp\", \".git\", \"*/Thumbs.db\". Repeatable"},
    {"--level", nullptr, ValueKind::Required, kPackCommand, StoreLevel, "N",
     "deflate level 0-9 (default 6); 0 stores every file. Files that\n"
     "are compressed already (media, archives) are always stored"},
    {"--threads", nullptr, ValueKind::Required, kPackCommand, StoreThreads, "N",
     "deflate on N threads (default: one per core); the same bytes"},
    {"--quiet", "-q", ValueKind::None, kPackCommand | kTestCommand, SetSwitch<&PackRequest::quiet>,
     nullptr, "print nothing but errors"},
    {"--verbose", "-v", ValueKind::None, kPackCommand, SetSwitch<&PackRequest::verbose>, nullptr,
     "list each entry as it is added, and what is left out"},
    {"--progress", nullptr, ValueKind::None, kPackCommand | kTestCommand,
     SetSwitch<&PackRequest::progress>, nullptr,
     "show progress even when stderr is not a terminal"},
    // The stub's branding; the values are checked with the other refusals.
    {"--icon", nullptr, ValueKind::Required, kPackCommand, StoreBranding<&StubBranding::icon>,
     "FILE.ico", "the package's icon: BMP or PNG images of 16 to 256 pixels"},
    {"--product-name", nullptr, ValueKind::Required, kPackCommand,
     StoreBranding<&StubBranding::productName>, "TEXT",
     "the version information Explorer shows (each text at most\n"
     "256 characters); what is not given stays the launcher's own,\n"
     "the original file name becomes the package's file name"},
    {"--description", nullptr, ValueKind::Required, kPackCommand,
     StoreBranding<&StubBranding::description>, "TEXT",
     "the program's name in Explorer and Task Manager"},
    {"--company", nullptr, ValueKind::Required, kPackCommand, StoreBranding<&StubBranding::company>,
     "TEXT", "the publisher"},
    {"--copyright", nullptr, ValueKind::Required, kPackCommand,
     StoreBranding<&StubBranding::copyright>, "TEXT", "the copyright line"},
    {"--product-version", nullptr, ValueKind::Required, kPackCommand,
     StoreBranding<&StubBranding::productVersion>, "A.B.C.D",
     "one to four numbers 0-65535; also the file version unless"},
    {"--file-version", nullptr, ValueKind::Required, kPackCommand,
     StoreBranding<&StubBranding::fileVersion>, "A.B.C.D", "is given"},
    {"--inspect", nullptr, ValueKind::Command, kInspectCommand, StorePackagePath, "FILE",
     "print what the launcher finds in a package"},
    {"--test", "-t", ValueKind::Command, kTestCommand, StorePackagePath, "FILE",
     "read a package as the launcher will and check every entry\n"
     "(CRC-32, nested zips and cabinets, names, client)"},
    {"--json", nullptr, ValueKind::None, kReadCommands, SetJson, nullptr,
     "with --inspect or --test: the same as one JSON object"},
};

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& option : kOptions) {
        if (name == option.name || (option.shortName != nullptr && name == option.shortName)) {
            return &option;
        }
    }
    return nullptr;
}

bool IsOptionText(const std::string& text) {
    return text.size() > 1 && text[0] == '-';
}

// An option's name, without the "=value" of the "--name=value" form.
std::string OptionName(const std::string& text) {
    size_t equals = text.find('=');
    return text.rfind("--", 0) == 0 && equals != std::string::npos ? text.substr(0, equals) : text;
}

// The command the line asks for, told before it is parsed so that a usage
// error shows that command's usage line: the command option, skipping the
// values of options that take one.
CommandMode CommandOfLine(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i < arguments.size() && arguments[i] != "--"; ++i) {
        const OptionSpec* option =
            IsOptionText(arguments[i]) ? FindOption(OptionName(arguments[i])) : nullptr;
        if (option == nullptr) {
            continue;
        }
        if (option->value == ValueKind::Command) {
            return option->commands == kInspectCommand ? CommandMode::Inspect : CommandMode::Test;
        }
        bool inlineValue = arguments[i].find('=') != std::string::npos;
        if (option->value != ValueKind::None && !inlineValue) {
            ++i;
        }
    }
    return arguments.empty() ? CommandMode::Help : CommandMode::Pack;
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
// parsed so far, which options (by long name) were given and the operands.
struct ParserState {
    explicit ParserState(const std::vector<std::string>& given) : arguments(given) {}
    const std::vector<std::string>& arguments;
    size_t next = 0;
    bool optionsEnded = false;
    ParsedCommandLine parsed;
    std::set<std::string> seen;
    std::vector<std::string> operands;
};

// The option's value: given inline, or the next argument taken as it is,
// even when it starts with "-". A command option's inline value is its
// operand.
std::string TakeValue(ParserState& state, const OptionSpec& option, const std::string& text) {
    std::string name = option.name;
    if (state.seen.count(name) != 0 && option.value != ValueKind::Repeated) {
        return name + " given twice";
    }
    bool hasInlineValue = OptionName(text).size() < text.size();
    std::string value = hasInlineValue ? text.substr(OptionName(text).size() + 1) : std::string();
    if (option.value == ValueKind::Command) {
        if (hasInlineValue) {
            state.operands.push_back(value);
        }
        return std::string();
    }
    if (option.value == ValueKind::None) {
        return hasInlineValue ? name + " takes no value" : option.store(state.parsed, value);
    }
    if (!hasInlineValue) {
        if (state.next >= state.arguments.size()) {
            return name + " needs a value";
        }
        value = state.arguments[state.next++];
    }
    if (value.empty() && option.value != ValueKind::MayBeEmpty) {
        return name + " needs a value";
    }
    return option.store(state.parsed, value);
}

// Reads every argument into the state; what is wrong with one, or empty.
std::string ReadArguments(ParserState& state) {
    while (state.next < state.arguments.size()) {
        const std::string& text = state.arguments[state.next++];
        if (!state.optionsEnded && text == "--") {
            state.optionsEnded = true;
            continue;
        }
        if (state.optionsEnded || !IsOptionText(text)) {
            state.operands.push_back(text);
            continue;
        }
        const OptionSpec* option = FindOption(OptionName(text));
        if (option == nullptr) {
            return "unknown option " + OptionName(text);
        }
        std::string problem = TakeValue(state, *option, text);
        if (!problem.empty()) {
            return problem;
        }
        state.seen.insert(option->name);
    }
    return std::string();
}

unsigned CommandBit(CommandMode mode) {
    return mode == CommandMode::Inspect ? kInspectCommand
           : mode == CommandMode::Test  ? kTestCommand
                                        : kPackCommand;
}

const char* CommandName(CommandMode mode) {
    return mode == CommandMode::Inspect ? "--inspect"
           : mode == CommandMode::Test  ? "--test"
                                        : "packing";
}

// Every option given must belong to the command.
std::string CheckOptionsOfCommand(const ParserState& state, CommandMode mode) {
    if (state.seen.count("--inspect") != 0 && state.seen.count("--test") != 0) {
        return "--inspect and --test exclude each other";
    }
    for (const OptionSpec& option : kOptions) {
        if (state.seen.count(option.name) == 0 || (option.commands & CommandBit(mode)) != 0) {
            continue;
        }
        if (mode == CommandMode::Pack) {
            return std::string(option.name) + " goes with " +
                   (option.commands == kReadCommands ? "--inspect or --test" : "--test");
        }
        return std::string(option.name) + " does not go with " + CommandName(mode);
    }
    return std::string();
}

// The operands: the payload when packing, the package otherwise.
std::string CheckOperands(ParserState& state, CommandMode mode) {
    bool payloadOption = state.seen.count("--payload") != 0;
    size_t allowed = mode == CommandMode::Pack && payloadOption ? 0 : 1;
    if (state.operands.size() > allowed) {
        return "unexpected argument " + state.operands[allowed];
    }
    if (mode != CommandMode::Pack) {
        if (state.operands.empty()) {
            return std::string(CommandName(mode)) + " needs a package file";
        }
        state.parsed.packagePath = state.operands[0];
        return state.parsed.packagePath.empty() ? CommandName(mode) + std::string(" needs a value")
                                                : std::string();
    }
    if (!state.operands.empty()) {
        state.parsed.pack.payload = state.operands[0];
        if (state.operands[0].empty()) {
            return "the payload is an empty argument";
        }
    }
    for (const char* needed : {"--locale", "--output"}) {
        if (state.seen.count(needed) == 0) {
            return std::string("missing ") + needed;
        }
    }
    if (state.parsed.pack.payload.empty()) {
        return "missing the payload (a folder or zip, or --payload PATH)";
    }
    if (state.parsed.pack.quiet && state.parsed.pack.verbose) {
        return "--quiet and --verbose exclude each other";
    }
    return std::string();
}

ParsedCommandLine UsageError(CommandMode mode, const std::string& message) {
    ParsedCommandLine parsed;
    parsed.ok = false;
    parsed.mode = mode;
    parsed.error = message;
    return parsed;
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
    CommandMode mode = CommandOfLine(arguments);
    if (arguments.empty()) {
        return UsageError(mode, "no command given");
    }
    ParserState state(arguments);
    std::string problem = ReadArguments(state);
    if (problem.empty()) {
        problem = CheckOptionsOfCommand(state, mode);
    }
    if (problem.empty()) {
        problem = CheckOperands(state, mode);
    }
    if (!problem.empty()) {
        return UsageError(mode, problem);
    }
    state.parsed.ok = true;
    state.parsed.mode = mode;
    return state.parsed;
}

std::string UsageText(CommandMode mode) {
    const char* pack =
        "usage: velmar-pack [-q | -v] [--level N] [--progress] [-x PATTERN]... [--launcher FILE]\n"
        "                   [--icon FILE.ico] [--product-name TEXT] [--description TEXT]\n"
        "                   [--company TEXT] [--copyright TEXT] [--product-version A.B.C.D]\n"
        "                   [--file-version A.B.C.D] --locale ll_CC -o FILE FOLDER_OR_ZIP\n";
    const char* inspect = "usage: velmar-pack --inspect [--json] FILE\n";
    const char* test = "usage: velmar-pack --test [-q] [--progress] [--json] FILE\n";
    switch (mode) {
        case CommandMode::Pack:
            return pack;
        case CommandMode::Inspect:
            return inspect;
        case CommandMode::Test:
            return test;
        default:
            return std::string(pack) + inspect + test + "usage: velmar-pack --help | --version\n";
    }
}

namespace {

// One option's lines of the help: its names and value, then its text, the
// later lines indented under the first.
std::string OptionHelp(const OptionSpec& option) {
    std::string names = std::string(option.shortName != nullptr ? option.shortName : "") +
                        (option.shortName != nullptr ? ", " : "") + option.name +
                        (option.valueName != nullptr ? std::string(" ") + option.valueName : "");
    const size_t column = 20;
    std::string text = "  " + names;
    text += names.size() + 3 <= column ? std::string(column - 2 - names.size(), ' ')
                                       : "\n" + std::string(column, ' ');
    for (const char* c = option.help; *c != '\0'; ++c) {
        text += *c;
        if (*c == '\n') {
            text += std::string(column, ' ');
        }
    }
    return text + "\n";
}

}  // namespace

std::string HelpText() {
    std::string text = UsageText() +
                       "\n"
                       "Makes a package: a copy of the launcher followed by the package marker, "
                       "the locale\n"
                       "text and the payload as a zip archive. Shows what the launcher finds in "
                       "a package,\n"
                       "and tests one as the launcher will read it.\n"
                       "\n";
    for (const OptionSpec& option : kOptions) {
        text += OptionHelp(option);
    }
    return text +
           "  --                ends the options\n"
           "  -h, --help, --version\n"
           "\n"
           "Options come in any order and also take the form --option=VALUE.\n"
           "SOURCE_DATE_EPOCH, when set, caps the stored file times.\n"
           "Exit codes: 0 done, 1 failure (nothing is written; --test: a problem found),\n"
           "2 usage error.\n";
}

std::string VersionText() {
    return std::string("velmar-pack ") + VELMAR_VERSION + "\n";
}
