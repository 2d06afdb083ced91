#include "tools/pack/pack_command.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "tools/pack/archive_listing.h"
#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"
#include "tools/pack/package_report.h"
#include "tools/pack/package_output.h"
#include "tools/pack/package_plan.h"
#include "tools/pack/payload_source.h"

namespace {

namespace fs = std::filesystem;

// The launcher takes the package's size as a signed 32-bit number.
constexpr uint64_t kLargestPackage = 0x7FFFFFFF;

int Refuse(const std::string& message) {
    WriteError("velmar-pack: " + message + "\n");
    return 1;
}

bool ReadLauncher(const fs::path& path, std::vector<unsigned char>& bytes, std::string& error) {
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    if (!fs::is_regular_file(path, failure)) {
        error = fs::exists(path, failure) ? "the launcher " + shown + " is not a file"
                                          : "the launcher " + shown + " does not exist";
        return false;
    }
    uint64_t size = fs::file_size(path, failure);
    if (failure) {
        error = "cannot read the launcher " + shown + ": " + failure.message();
        return false;
    }
    error = CheckLauncherLength(size);
    if (!error.empty()) {
        return false;
    }
    std::ifstream input(path, std::ios::binary);
    bytes.assign(static_cast<size_t>(size), 0);
    if (!input || !input.read(reinterpret_cast<char*>(bytes.data()),
                              static_cast<std::streamsize>(bytes.size()))) {
        error = "cannot read the launcher " + shown;
        return false;
    }
    return true;
}

// Whether path lies inside folder (or is it), comparing resolved paths.
bool LiesInside(const fs::path& path, const fs::path& folder) {
    std::error_code failure;
    fs::path resolvedPath = fs::weakly_canonical(fs::absolute(path, failure), failure);
    fs::path resolvedFolder = fs::weakly_canonical(fs::absolute(folder, failure), failure);
    if (failure) {
        return false;
    }
    auto folderPart = resolvedFolder.begin();
    auto pathPart = resolvedPath.begin();
    for (; folderPart != resolvedFolder.end(); ++folderPart, ++pathPart) {
        if (folderPart->empty()) {
            continue;  // a trailing separator
        }
        if (pathPart == resolvedPath.end() || *pathPart != *folderPart) {
            return false;
        }
    }
    return true;
}

bool WriteBytes(std::streambuf& buffer, const char* data, size_t length) {
    return buffer.sputn(data, static_cast<std::streamsize>(length)) ==
           static_cast<std::streamsize>(length);
}

// The finished bytes must give the launcher's search the planned layout, and
// the archive must list as many entries as were put in.
std::string VerifyPackage(std::streambuf& buffer, const PackagePlan& plan,
                          const std::string& localeText, size_t entryCount) {
    PackageLayout found;
    if (!LocatePackageInStream(buffer, found)) {
        return "the written package cannot be read back";
    }
    std::string problem = CheckFinishedLayout(plan, localeText, found);
    if (!problem.empty()) {
        return problem;
    }
    std::vector<ArchiveEntry> entries;
    std::string reason;
    if (!ListArchive(buffer, static_cast<uint64_t>(plan.archiveOffset), entries, reason)) {
        return "the archive in the written package cannot be read: " + reason;
    }
    if (entries.size() != entryCount) {
        return "the archive in the written package lists " + std::to_string(entries.size()) +
               " entries instead of " + std::to_string(entryCount);
    }
    return std::string();
}

}  // namespace

int BuildPackage(const PackRequest& request) {
    std::string error;
    std::string localeText;
    if (!ToLauncherText(request.locale, localeText, error)) {
        return Refuse("the locale text " + error);
    }
    error = CheckLocaleText(localeText);
    if (!error.empty()) {
        return Refuse(error);
    }

    fs::path launcherPath = PathFromUtf8(request.launcher);
    std::vector<unsigned char> launcher;
    if (!ReadLauncher(launcherPath, launcher, error)) {
        return Refuse(error);
    }
    PackagePlan plan;
    error = PlanPackage(launcher, localeText, plan);
    if (!error.empty()) {
        return Refuse(error);
    }

    fs::path payloadPath = PathFromUtf8(request.payload);
    fs::path outputPath = PathFromUtf8(request.output);
    std::error_code failure;
    if (fs::is_directory(payloadPath, failure) && LiesInside(outputPath, payloadPath)) {
        return Refuse("the output " + request.output + " lies inside the payload folder " +
                      request.payload);
    }
    Payload payload;
    if (!ReadPayload(payloadPath, payload, error)) {
        return Refuse(error);
    }
    if (fs::equivalent(outputPath, launcherPath, failure)) {
        return Refuse("the output " + request.output + " is the launcher itself");
    }
    if (payload.kind == PayloadKind::ZipArchive &&
        fs::equivalent(outputPath, payloadPath, failure)) {
        return Refuse("the output " + request.output + " is the payload itself");
    }
    PackageOutput output;
    if (!output.Create(outputPath, error)) {
        return Refuse(error);
    }
    std::streambuf& buffer = *output.Stream().rdbuf();
    std::vector<char> filler(static_cast<size_t>(plan.fillerLength), '\0');
    if (!WriteBytes(buffer, reinterpret_cast<const char*>(launcher.data()), launcher.size()) ||
        !WriteBytes(buffer, filler.data(), filler.size()) ||
        !WriteBytes(buffer, reinterpret_cast<const char*>(MarkerBytes()), kMarkerLength) ||
        !WriteBytes(buffer, localeText.data(), localeText.size())) {
        return Refuse("cannot write " + request.output + ": writing the file failed");
    }
    if (!WritePayload(payload, buffer, static_cast<uint64_t>(plan.archiveOffset), error)) {
        return Refuse(error);
    }
    if (buffer.pubsync() != 0) {
        return Refuse("cannot write " + request.output + ": writing the file failed");
    }
    std::streamoff size = buffer.pubseekoff(0, std::ios_base::end);
    if (size < 0 || static_cast<uint64_t>(size) > kLargestPackage) {
        return Refuse("the package would be " + std::to_string(size) +
                      " bytes long: the launcher reads packages of at most 2 GiB");
    }
    error = VerifyPackage(buffer, plan, localeText, payload.entryCount);
    if (!error.empty()) {
        return Refuse("the package is not written: " + error);
    }
    if (!output.Commit(error)) {
        return Refuse(error);
    }

    WriteOut("velmar-pack: wrote " + request.output + ": marker at " +
             std::to_string(plan.markerOffset) + ", archive at " +
             std::to_string(plan.archiveOffset) + ", " + std::to_string(payload.entryCount) +
             " entries, " + std::to_string(size) + " bytes\n");
    return 0;
}
