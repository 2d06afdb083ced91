#include "tools/pack/pack_command.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tools/pack/archive_listing.h"
#include "tools/pack/console_output.h"
#include "tools/pack/file_facts.h"
#include "tools/pack/installed_stub.h"
#include "tools/pack/interruption.h"
#include "tools/pack/launcher_stub.h"
#include "tools/pack/native_text.h"
#include "tools/pack/package_report.h"
#include "tools/pack/package_output.h"
#include "tools/pack/package_plan.h"
#include "tools/pack/payload_source.h"
#include "tools/pack/payload_zip.h"
#include "tools/pack/pe_image.h"
#include "tools/pack/progress.h"
#include "tools/pack/stub_branding.h"

namespace {

namespace fs = std::filesystem;

int Refuse(const std::string& message) {
    WriteError("velmar-pack: " + message + "\n");
    return 1;
}

bool ReadLauncher(const fs::path& path, std::vector<unsigned char>& bytes, std::string& error) {
    uint64_t size = 0;
    if (!ReadSmallFile(path, "the launcher " + PathToUtf8(path), kMarkerSearchEnd, bytes, size,
                       error)) {
        return false;
    }
    error = CheckLauncherLength(size);
    return error.empty();
}

// Windows compares names without regard to letter case.
bool SamePathPart(const fs::path& a, const fs::path& b) {
#ifdef _WIN32
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
#else
    return a == b;
#endif
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
        if (pathPart == resolvedPath.end() || !SamePathPart(*pathPart, *folderPart)) {
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

namespace {

// The package's length becomes a multiple of 8 through the zip comment, which
// is part of the archive: the end record written last has none yet.
bool AlignArchiveEnd(std::streambuf& buffer) {
    std::streamoff end = buffer.pubseekoff(0, std::ios_base::end);
    uint64_t pad =
        (kPackageAlignment - static_cast<uint64_t>(end) % kPackageAlignment) % kPackageAlignment;
    if (end < 2 || pad == 0) {
        return end >= 0;
    }
    char length[2] = {static_cast<char>(pad), 0};
    std::string spaces(static_cast<size_t>(pad), ' ');
    return buffer.pubseekpos(end - 2) == std::streampos(end - 2) && WriteBytes(buffer, length, 2) &&
           WriteBytes(buffer, spaces.data(), spaces.size());
}

// Reads the stub and takes its signature off.
StepResult ReadStub(const PackRequest& request, std::vector<unsigned char>& launcher) {
    std::string error;
    if (!ReadLauncher(PathFromUtf8(request.launcher), launcher, error)) {
        return StepResult::Failed(error);
    }
    error = LauncherStubProblem(launcher);
    uint32_t removed = 0;
    if (error.empty() && !RemoveStubSignature(launcher, removed, error)) {
        error = "its signature cannot be removed: " + error;
    }
    if (!error.empty()) {
        return StepResult::Failed("the launcher " + request.launcher + " is not a launcher stub: " +
                                  error + " - give velmar-launcher.exe");
    }
    if (removed > 0 && !request.quiet) {
        WriteError("velmar-pack: the launcher " + request.launcher + " carries a code signature (" +
                   std::to_string(removed) +
                   " bytes), which would not fit the package: it is left out - sign the package "
                   "after packing\n");
    }
    return StepResult::Done();
}

// Writes the requested branding into the stub. The archive must still begin
// by the end of the launcher's search.
StepResult BrandLauncher(const PackRequest& request, std::vector<unsigned char>& launcher) {
    if (!BrandingRequested(request.branding)) {
        return StepResult::Done();
    }
    uint64_t largest =
        static_cast<uint64_t>(kMarkerSearchEnd) - kMarkerLength - request.locale.size();
    std::string name = PathToUtf8(PathFromUtf8(request.output).filename());
    std::string error = BrandStub(launcher, request.branding, name, largest);
    return error.empty() ? StepResult::Done() : StepResult::Failed(error);
}

// A branded package carries the checksum of the whole file, as the PE format
// defines it, so that it checks out for signing tools and Windows alike.
bool WritePackageChecksum(std::streambuf& buffer, const std::vector<unsigned char>& launcher) {
    PeImage pe;
    std::string ignored;
    uint32_t sum = 0;
    if (!ReadPeImage(launcher, pe, ignored) ||
        !PeChecksumOfStream(buffer, ChecksumField(pe), sum)) {
        return false;
    }
    std::streamoff field = static_cast<std::streamoff>(ChecksumField(pe));
    char bytes[4] = {static_cast<char>(sum), static_cast<char>(sum >> 8),
                     static_cast<char>(sum >> 16), static_cast<char>(sum >> 24)};
    return buffer.pubseekpos(field) == std::streampos(field) && WriteBytes(buffer, bytes, 4);
}

ZipWriteOptions WriteOptions(const PackRequest& request, ProgressMeter& progress) {
    ZipWriteOptions options;
    options.level = request.level;
    options.threads =
        request.threads != 0 ? request.threads : std::max(1u, std::thread::hardware_concurrency());
    options.verbose = request.verbose;
    options.progress = &progress;
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch != nullptr && *epoch != '\0') {
        char* end = nullptr;
        long long value = std::strtoll(epoch, &end, 10);
        options.capTimes = end != nullptr && *end == '\0';
        options.timeCap = value;
    }
    return options;
}

std::string CheckOutputPath(const PackRequest& request, const Payload& payload) {
    fs::path outputPath = PathFromUtf8(request.output);
    std::error_code failure;
    if (payload.kind == PayloadKind::Folder && LiesInside(outputPath, payload.path)) {
        return "the output " + request.output + " lies inside the payload folder " +
               request.payload;
    }
    if (fs::equivalent(outputPath, PathFromUtf8(request.launcher), failure)) {
        return "the output " + request.output + " is the launcher itself";
    }
    if (payload.kind == PayloadKind::ZipArchive &&
        fs::equivalent(outputPath, payload.path, failure)) {
        return "the output " + request.output + " is the payload itself";
    }
    return std::string();
}

uint64_t FileCount(const Payload& payload) {
    uint64_t files = 0;
    for (const PayloadEntry& entry : payload.entries) {
        files += entry.facts.isDirectory ? 0 : 1;
    }
    return payload.kind == PayloadKind::Folder ? files
           : TakenByteForByte(payload)         ? 1
                                               : payload.entryCount;
}

bool ShowsProgress(const PackRequest& request) {
    return !request.quiet && (request.progress || ErrorIsTerminal());
}

// With -v: what the exclusion left out, and that a zip is written anew.
void ReportLeftOut(const PackRequest& request, const Payload& payload) {
    if (!request.verbose) {
        return;
    }
    for (const std::string& leftOut : payload.leftOut) {
        WriteOut("  leaving out: " + leftOut + "\n");
    }
    if (payload.kind == PayloadKind::ZipArchive && !TakenByteForByte(payload)) {
        WriteOut(
            "velmar-pack: the payload zip is written anew without what -x leaves out, "
            "no longer byte for byte\n");
    }
}

// The launcher's bytes, the filler, the marker and the locale text.
bool WriteHead(std::streambuf& buffer, const std::vector<unsigned char>& launcher,
               const PackagePlan& plan, const std::string& localeText) {
    std::vector<char> filler(static_cast<size_t>(plan.fillerLength), '\0');
    return WriteBytes(buffer, reinterpret_cast<const char*>(launcher.data()), launcher.size()) &&
           WriteBytes(buffer, filler.data(), filler.size()) &&
           WriteBytes(buffer, reinterpret_cast<const char*>(MarkerBytes()), kMarkerLength) &&
           WriteBytes(buffer, localeText.data(), localeText.size());
}

StepResult WriteFailure(const PackRequest& request) {
    return StepResult::Failed("cannot write " + request.output + ": writing the file failed");
}

// The refusal of a package that is not written; an interruption says so.
int RefuseWriting(const PackRequest& request, const StepResult& result) {
    return Refuse(result.interrupted() ? "interrupted: " + request.output + " is not written"
                                       : result.message());
}

// The payload's archive behind the head, with progress.
StepResult WriteArchive(const PackRequest& request, const PackagePlan& plan, const Payload& payload,
                        std::streambuf& buffer) {
    ProgressMeter progress(ShowsProgress(request), FileCount(payload), payload.fileBytes);
    StepResult written = WritePayload(payload, buffer, static_cast<uint64_t>(plan.archiveOffset),
                                      WriteOptions(request, progress));
    if (written.done() && !TakenByteForByte(payload) && !AlignArchiveEnd(buffer)) {
        written = WriteFailure(request);
    }
    progress.Finish();
    return written;
}

// The written bytes flushed, their length checked and read back as planned.
StepResult CheckWrittenPackage(const PackRequest& request, const PackagePlan& plan,
                               const Payload& payload, std::streambuf& buffer,
                               std::streamoff& size) {
    if (buffer.pubsync() != 0) {
        return WriteFailure(request);
    }
    size = buffer.pubseekoff(0, std::ios_base::end);
    std::string error = CheckPackageLength(size);
    if (!error.empty()) {
        return StepResult::Failed(error);
    }
    error = VerifyPackage(buffer, plan, request.locale, payload.entryCount);
    if (!error.empty()) {
        return StepResult::Failed("the package is not written: " + error);
    }
    return Interrupted() ? StepResult::Interruption() : StepResult::Done();
}

// Writes the planned package under a temporary name and puts it in place
// once it reads back as planned.
int WritePackage(const PackRequest& request, const std::vector<unsigned char>& launcher,
                 const PackagePlan& plan, const Payload& payload) {
    std::string error;
    PackageOutput output;
    if (!output.Create(PathFromUtf8(request.output), error)) {
        return Refuse(error);
    }
    std::streambuf& buffer = *output.Stream().rdbuf();
    StepResult written = WriteHead(buffer, launcher, plan, request.locale)
                             ? WriteArchive(request, plan, payload, buffer)
                             : WriteFailure(request);
    if (written.done() && BrandingRequested(request.branding) &&
        !WritePackageChecksum(buffer, launcher)) {
        written = WriteFailure(request);
    }
    std::streamoff size = 0;
    if (written.done()) {
        written = CheckWrittenPackage(request, plan, payload, buffer, size);
    }
    if (!written.done()) {
        return RefuseWriting(request, written);
    }
    if (!output.Commit(error)) {
        return Refuse(error);
    }
    if (!request.quiet) {
        WriteOut("velmar-pack: wrote " + request.output + ": marker at " +
                 std::to_string(plan.markerOffset) + ", archive at " +
                 std::to_string(plan.archiveOffset) + ", " + std::to_string(payload.entryCount) +
                 " entries, " + std::to_string(size) + " bytes\n");
    }
    return 0;
}

}  // namespace

int BuildPackage(const PackRequest& given) {
    InstallInterruptionHandlers();
    std::string error = CheckLocaleText(given.locale);
    error = error.empty() ? CheckBrandingValues(given.branding) : error;
    if (!error.empty()) {
        return Refuse(error);
    }
    PackRequest request = given;
    if (request.launcher.empty() && (request.launcher = FindInstalledStub(error)).empty()) {
        return Refuse(error);
    }
    std::vector<unsigned char> launcher;
    StepResult stub = ReadStub(request, launcher);
    if (stub.done()) {
        stub = BrandLauncher(request, launcher);
    }
    if (!stub.done()) {
        return Refuse(stub.message());
    }
    Payload payload;
    PayloadReading reading{request.excludes, ShowsProgress(request)};
    StepResult read = ReadPayload(PathFromUtf8(request.payload), payload, reading);
    if (!read.done()) {
        return Refuse(read.message());
    }
    ReportLeftOut(request, payload);
    error = CheckOutputPath(request, payload);
    if (!error.empty()) {
        return Refuse(error);
    }
    PackagePlan plan;
    bool knownLength = TakenByteForByte(payload);
    error = PlanPackage(launcher, request.locale, knownLength ? payload.fileBytes : 0, plan);
    if (error.empty()) {
        error = CheckLeastPackageLength(static_cast<uint64_t>(plan.archiveOffset) +
                                        SmallestArchiveSize(payload, request.level));
    }
    if (!error.empty()) {
        return Refuse(error);
    }
    return WritePackage(request, launcher, plan, payload);
}
