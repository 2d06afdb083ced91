// velmar-pack: makes packages and shows what the launcher finds in them.
#include <string>
#include <vector>

#include "tools/pack/command_line.h"
#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"
#include "tools/pack/pack_command.h"
#include "tools/pack/package_report.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int kExitUsage = 2;

int Run(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.ok) {
        WriteError("velmar-pack: " + parsed.error + "\n" + UsageText());
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
            return InspectPackage(PathFromUtf8(parsed.inspectPath), parsed.json);
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
        std::wstring wide(argv[i]);
        int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
        if (length > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                                length, nullptr, nullptr);
        }
        arguments.push_back(utf8);
    }
    return Run(arguments);
}
#else
int main(int argc, char** argv) {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
