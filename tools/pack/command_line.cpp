#include "tools/pack/command_line.h"

namespace {

struct OptionSlot {
    const char* name;
    std::string* value;
    bool seen;
};

ParsedCommandLine UsageError(const std::string& message) {
    ParsedCommandLine parsed;
    parsed.ok = false;
    parsed.error = message;
    return parsed;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    // Help and version win over anything else on the line.
    for (const std::string& argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            ParsedCommandLine parsed;
            parsed.ok = true;
            parsed.mode = CommandMode::Help;
            return parsed;
        }
    }
    for (const std::string& argument : arguments) {
        if (argument == "--version") {
            ParsedCommandLine parsed;
            parsed.ok = true;
            parsed.mode = CommandMode::Version;
            return parsed;
        }
    }
    if (arguments.empty()) {
        return UsageError("no command given");
    }

    ParsedCommandLine parsed;
    OptionSlot slots[] = {
        {"--launcher", &parsed.pack.launcher, false}, {"--locale", &parsed.pack.locale, false},
        {"--payload", &parsed.pack.payload, false},   {"--output", &parsed.pack.output, false},
        {"--inspect", &parsed.inspectPath, false},
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string name = argument;
        std::string value;
        bool hasInlineValue = false;
        size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasInlineValue = true;
        }
        OptionSlot* slot = nullptr;
        for (OptionSlot& candidate : slots) {
            if (name == candidate.name) {
                slot = &candidate;
            }
        }
        if (slot == nullptr) {
            if (argument.rfind("-", 0) == 0 && argument.size() > 1) {
                return UsageError("unknown option " + name);
            }
            return UsageError("unexpected argument " + argument);
        }
        if (slot->seen) {
            return UsageError(std::string(slot->name) + " given twice");
        }
        if (!hasInlineValue) {
            if (i + 1 >= arguments.size()) {
                return UsageError(std::string(slot->name) + " needs a value");
            }
            value = arguments[++i];
        }
        // An empty locale text is refused later with the other locale checks.
        if (value.empty() && slot->value != &parsed.pack.locale) {
            return UsageError(std::string(slot->name) + " needs a value");
        }
        slot->seen = true;
        *slot->value = value;
    }

    bool inspect = slots[4].seen;
    if (inspect) {
        for (int i = 0; i < 4; ++i) {
            if (slots[i].seen) {
                return UsageError(std::string("--inspect takes no other option, but ") +
                                  slots[i].name + " was given");
            }
        }
        parsed.ok = true;
        parsed.mode = CommandMode::Inspect;
        return parsed;
    }
    for (int i = 0; i < 4; ++i) {
        if (!slots[i].seen) {
            return UsageError(std::string("missing ") + slots[i].name);
        }
    }
    parsed.ok = true;
    parsed.mode = CommandMode::Pack;
    return parsed;
}

std::string UsageText() {
    return "usage: velmar-pack --launcher FILE --locale TEXT --payload FOLDER_OR_ZIP --output "
           "FILE\n"
           "       velmar-pack --inspect FILE\n"
           "       velmar-pack --help | --version\n";
}

std::string HelpText() {
    return UsageText() +
           "\n"
           "Makes a package: a copy of the launcher followed by the package marker, the locale\n"
           "text and the payload as a zip archive. Shows what the launcher finds in a package.\n"
           "\n"
           "  --launcher FILE   the launcher stub (velmar-launcher.exe), at most 500000 bytes;\n"
           "                    a shorter one is padded with zero bytes to offset 100000\n"
           "  --locale TEXT     the locale text, e.g. en_US: the language is characters 1-2,\n"
           "                    the country characters 4-5; 5 to 259 bytes, no zero byte and\n"
           "                    no zip signature\n"
           "  --payload PATH    a folder, zipped with its sub-folders, times and attributes in\n"
           "                    name order; or a zip archive, taken byte for byte\n"
           "  --output FILE     the package to write; replaced only once it is complete\n"
           "  --inspect FILE    print the marker offset, locale text, archive offset and size,\n"
           "                    and the archive's entries as the launcher will find them\n"
           "  --help, --version\n"
           "\n"
           "Options also take the form --option=VALUE.\n"
           "Exit codes: 0 done, 1 failure (nothing is written), 2 usage error.\n";
}

std::string VersionText() {
    return std::string("velmar-pack ") + VELMAR_VERSION + "\n";
}
