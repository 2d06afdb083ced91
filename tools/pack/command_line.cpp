#include "tools/pack/command_line.h"

namespace {

enum class Slot {
    Launcher,
    Locale,
    Payload,
    Output,
    Inspect,
    Level,
    Quiet,
    Verbose,
    Progress,
    Json
};

struct OptionSpec {
    const char* name;
    const char* shortName;  // or null
    Slot slot;
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {"--launcher", nullptr, Slot::Launcher, true},  {"--locale", nullptr, Slot::Locale, true},
    {"--payload", nullptr, Slot::Payload, true},    {"--output", "-o", Slot::Output, true},
    {"--inspect", nullptr, Slot::Inspect, true},    {"--level", nullptr, Slot::Level, true},
    {"--quiet", "-q", Slot::Quiet, false},          {"--verbose", "-v", Slot::Verbose, false},
    {"--progress", nullptr, Slot::Progress, false}, {"--json", nullptr, Slot::Json, false},
};
constexpr size_t kSlotCount = 10;

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

std::string Store(ParsedCommandLine& parsed, Slot slot, const std::string& value) {
    PackRequest& pack = parsed.pack;
    switch (slot) {
        case Slot::Launcher:
            pack.launcher = value;
            break;
        case Slot::Locale:
            pack.locale = value;
            break;
        case Slot::Payload:
            pack.payload = value;
            break;
        case Slot::Output:
            pack.output = value;
            break;
        case Slot::Inspect:
            parsed.inspectPath = value;
            break;
        case Slot::Level:
            if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                return "--level takes a number from 0 to 9, not " + value;
            }
            pack.level = value[0] - '0';
            break;
        case Slot::Quiet:
            pack.quiet = true;
            break;
        case Slot::Verbose:
            pack.verbose = true;
            break;
        case Slot::Progress:
            pack.progress = true;
            break;
        case Slot::Json:
            parsed.json = true;
            break;
    }
    return std::string();
}

// Which options a mode may not be given, and which it needs.
std::string CheckCombination(const ParsedCommandLine& parsed, const bool* seen) {
    if (seen[static_cast<size_t>(Slot::Inspect)]) {
        for (const OptionSpec& option : kOptions) {
            if (seen[static_cast<size_t>(option.slot)] && option.slot != Slot::Inspect &&
                option.slot != Slot::Json) {
                return std::string("--inspect takes no other option but --json, but ") +
                       option.name + " was given";
            }
        }
        return std::string();
    }
    if (seen[static_cast<size_t>(Slot::Json)]) {
        return "--json goes with --inspect";
    }
    for (Slot needed : {Slot::Launcher, Slot::Locale, Slot::Payload, Slot::Output}) {
        if (!seen[static_cast<size_t>(needed)]) {
            return std::string("missing ") + kOptions[static_cast<size_t>(needed)].name;
        }
    }
    if (parsed.pack.quiet && parsed.pack.verbose) {
        return "--quiet and --verbose exclude each other";
    }
    return std::string();
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
    ParsedCommandLine parsed;
    bool seen[kSlotCount] = {};
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        bool isOption = !optionsEnded && argument.size() > 1 && argument[0] == '-';
        std::string name = argument;
        std::string value;
        bool hasInlineValue = false;
        size_t equals = argument.find('=');
        if (isOption && argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasInlineValue = true;
        }
        const OptionSpec* option = isOption ? FindOption(name) : nullptr;
        if (isOption && option == nullptr) {
            return UsageError("unknown option " + name);
        }
        if (option == nullptr) {
            // An operand: the payload, once.
            if (seen[static_cast<size_t>(Slot::Payload)]) {
                return UsageError("unexpected argument " + argument);
            }
            option = &kOptions[static_cast<size_t>(Slot::Payload)];
            value = argument;
            hasInlineValue = true;
        }
        size_t index = static_cast<size_t>(option->slot);
        if (seen[index]) {
            return UsageError(std::string(option->name) + " given twice");
        }
        if (option->takesValue && !hasInlineValue) {
            if (i + 1 >= arguments.size()) {
                return UsageError(std::string(option->name) + " needs a value");
            }
            value = arguments[++i];  // taken as it is, even when it starts with "-"
        }
        if (!option->takesValue && hasInlineValue) {
            return UsageError(std::string(option->name) + " takes no value");
        }
        // An empty locale text is refused later with the other locale checks.
        if (option->takesValue && value.empty() && option->slot != Slot::Locale) {
            return UsageError(std::string(option->name) + " needs a value");
        }
        std::string problem = Store(parsed, option->slot, value);
        if (!problem.empty()) {
            return UsageError(problem);
        }
        seen[index] = true;
    }
    std::string problem = CheckCombination(parsed, seen);
    if (!problem.empty()) {
        return UsageError(problem);
    }
    parsed.ok = true;
    parsed.mode =
        seen[static_cast<size_t>(Slot::Inspect)] ? CommandMode::Inspect : CommandMode::Pack;
    return parsed;
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
