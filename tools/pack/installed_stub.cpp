#include "tools/pack/installed_stub.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tools/pack/native_text.h"

namespace {

namespace fs = std::filesystem;

// The running program's own file; empty when the system does not tell.
fs::path OwnProgram() {
#ifdef _WIN32
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return fs::path();
    }
    path.resize(length);
    return fs::path(path);
#else
    std::error_code failure;
    fs::path path = fs::read_symlink("/proc/self/exe", failure);
    return failure ? fs::path() : path;
#endif
}

}  // namespace

std::vector<fs::path> InstalledStubPlaces() {
    fs::path program = OwnProgram();
    if (program.empty()) {
        return {};
    }
    fs::path folder = program.parent_path();
    return {folder / kStubFileName,
            (folder / ".." / "share" / "velmar").lexically_normal() / kStubFileName};
}

std::string FindInstalledStub(std::string& error) {
    std::vector<fs::path> places = InstalledStubPlaces();
    std::string looked;
    for (const fs::path& place : places) {
        std::error_code failure;
        if (fs::is_regular_file(place, failure)) {
            return PathToUtf8(place);
        }
        looked += (looked.empty() ? "" : " and ") + PathToUtf8(place);
    }
    error = "no --launcher given, and no launcher stub " + std::string(kStubFileName) +
            " where an install puts it (" +
            (looked.empty() ? "the program's own folder is not known" : "looked at " + looked) +
            "): give --launcher FILE";
    return std::string();
}
