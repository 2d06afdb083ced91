// velmar-pack: makes packages and shows what the launcher finds in them.
#include <string>
#include <vector>

#include "tools/pack/command_line.h"
#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"
#include "tools/pack/pack_command.h"
#include "tools/pack/package_check.h"
#include "tools/pack/package_report.h"

namespace {

constexpr int kExitUsage = 2;

int Run(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.ok) {
        WriteError("velmar-pack: " + parsed.error + "\n" + UsageText(parsed.mode));
        return kExitUsage;
    }
    switch (parsed.mode) {
        case CommandMode::Help:
            WriteOut(HelpText());
            return 0;
        case CommandMode::Version:
            WriteOut(VersionText());
            return 0;
        case CommandMode::Inspect:
            return InspectPackage(PathFromUtf8(parsed.packagePath), parsed.json);
        case CommandMode::Test:
            return TestPackage(PathFromUtf8(parsed.packagePath), parsed.json, parsed.pack.quiet,
                               parsed.pack.progress);
        case CommandMode::Pack:
            return BuildPackage(parsed.pack);
    }
    return kExitUsage;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(Utf8FromWide(argv[i]));
    }
    return Run(arguments);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
