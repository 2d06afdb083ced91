#include "tools/pack/payload_source.h"

#include <fstream>
#include <system_error>

#include "tools/pack/archive_listing.h"
#include "tools/pack/interruption.h"
#include "tools/pack/native_text.h"
#include "tools/pack/package_check.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/payload_zip.h"
#include "tools/pack/progress.h"
#include "tools/pack/zip_stream_io.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kLargestTextFile = 16 * 1024 * 1024;
constexpr uint32_t kReadOnlyAttribute = 0x01;
// Local header and directory record without the name, plus the "UT" block.
constexpr uint64_t kEntryOverhead = 30 + 46 + 2 * 9;
constexpr uint64_t kEndRecordLength = 22;

std::vector<std::string> RewrittenNames(const std::vector<std::string>& names,
                                        const ClientChoice& client) {
    std::vector<std::string> rewritten;
    for (const std::string& name : names) {
        if (IsRewrittenFile(name, client)) {
            rewritten.push_back(name);
        }
    }
    return rewritten;
}

// The refusal for a nested archive the launcher would not extract in full.
std::string NestedArchiveProblem(const PackageCheck& walk) {
    return "the launcher would not extract " + walk.part + ": " + walk.problem;
}

std::vector<std::string> NestedArchiveNames(const std::vector<std::string>& fileNames) {
    std::vector<std::string> nested;
    for (const std::string& name : fileNames) {
        if (NestedArchiveKindOf(std::string_view(name)) != NestedArchiveKind::None) {
            nested.push_back(name);
        }
    }
    return nested;
}

bool CheckClient(const std::vector<std::string>& fileNames, Payload& payload, std::string& error) {
    payload.client = ChooseClient(fileNames);
    if (payload.client.program.empty()) {
        error = MissingClientProblem(fileNames);
        return false;
    }
    return true;
}

bool CheckFolderPayload(Payload& payload, std::string& error) {
    std::vector<std::string> fileNames;
    for (const PayloadEntry& entry : payload.entries) {
        if (!entry.facts.isDirectory) {
            fileNames.push_back(entry.name);
            payload.fileBytes += entry.facts.size;
        }
    }
    if (!CheckClient(fileNames, payload, error)) {
        return false;
    }
    PackageCheck walk;
    walk.entries = payload.entries.size();
    for (const PayloadEntry& entry : payload.entries) {
        if (entry.facts.isDirectory ||
            NestedArchiveKindOf(std::string_view(entry.name)) == NestedArchiveKind::None) {
            continue;
        }
        std::ifstream archive(entry.source, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(archive)),
                            std::istreambuf_iterator<char>());
        if (!CheckNestedArchive(entry.name, content, 0, walk)) {
            error = NestedArchiveProblem(walk);
            return false;
        }
    }
    for (const PayloadEntry& entry : payload.entries) {
        if (entry.facts.isDirectory || !IsRewrittenFile(entry.name, payload.client)) {
            continue;
        }
        std::string bytes;
        if (entry.facts.size <= kLargestTextFile) {
            std::ifstream input(entry.source, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
        }
        error = RewrittenFileProblem(
            entry.name, (entry.facts.externalAttributes & kReadOnlyAttribute) != 0, bytes);
        if (!error.empty()) {
            return false;
        }
    }
    return true;
}

// The entries the exclusion keeps; those left out are noted with the
// pattern, and their packed sizes are what a zip written anew leaves out.
std::vector<ArchiveEntry> KeptEntries(const std::vector<ArchiveEntry>& entries, Payload& payload) {
    std::vector<ArchiveEntry> kept;
    uint64_t packedBytes = 0;
    for (const ArchiveEntry& entry : entries) {
        const std::string* pattern = payload.exclusion.Excluding(entry.name);
        if (pattern != nullptr) {
            payload.leftOut.push_back(entry.name + " (-x " + *pattern + ")");
            continue;
        }
        kept.push_back(entry);
        packedBytes += entry.packedSize;
    }
    if (!payload.leftOut.empty()) {
        payload.fileBytes = packedBytes;
    }
    return kept;
}

// Reads every kept entry's data, with progress, and checks the files the
// launcher rewrites.
bool ReadZipEntries(std::streambuf& buffer, const std::vector<ArchiveEntry>& entries,
                    const std::vector<std::string>& fileNames, bool showProgress, Payload& payload,
                    std::string& error) {
    uint64_t totalBytes = 0;
    for (const ArchiveEntry& entry : entries) {
        totalBytes += entry.size;
    }
    ProgressMeter progress(showProgress, entries.size(), totalBytes);
    std::vector<std::string> rewritten = RewrittenNames(fileNames, payload.client);
    std::vector<std::string> nested = NestedArchiveNames(fileNames);
    std::vector<std::string> wanted = rewritten;
    wanted.insert(wanted.end(), nested.begin(), nested.end());
    std::vector<std::string> contents;
    const PayloadExclusion& exclusion = payload.exclusion;
    auto skips = [&exclusion](const std::string& name) {
        return exclusion.Excluding(name) != nullptr;
    };
    if (!ReadArchiveData(buffer, 0, wanted, contents, error, skips, &progress)) {
        error = error == "interrupted" ? error : "the payload zip cannot be extracted: " + error;
        return false;
    }
    progress.Finish();
    for (size_t i = 0; i < rewritten.size(); ++i) {
        for (const ArchiveEntry& entry : entries) {
            if (entry.name == rewritten[i]) {
                error = RewrittenFileProblem(
                    entry.name, (entry.attributes & kReadOnlyAttribute) != 0, contents[i]);
            }
        }
        if (!error.empty()) {
            return false;
        }
    }
    PackageCheck walk;
    walk.entries = entries.size();
    for (size_t i = 0; i < nested.size(); ++i) {
        if (!CheckNestedArchive(nested[i], contents[rewritten.size() + i], 0, walk)) {
            error = NestedArchiveProblem(walk);
            return false;
        }
    }
    return true;
}

bool CheckZipEntries(std::streambuf& buffer, const std::vector<ArchiveEntry>& allEntries,
                     bool showProgress, Payload& payload, std::string& error) {
    std::vector<ArchiveEntry> entries = KeptEntries(allEntries, payload);
    payload.entryCount = entries.size();
    if (entries.empty()) {
        error = "every entry of the payload zip " + PathToUtf8(payload.path) + " is left out";
        return false;
    }
    std::vector<std::string> fileNames;
    for (const ArchiveEntry& entry : entries) {
        error = ArchiveEntryProblem(entry);
        if (!error.empty()) {
            return false;
        }
        if (entry.name.empty() || entry.name.back() != '/') {
            fileNames.push_back(entry.name);
        }
    }
    return CheckClient(fileNames, payload, error) &&
           ReadZipEntries(buffer, entries, fileNames, showProgress, payload, error);
}

// The launcher refuses a zip whose entries overlap (several directory records
// sharing one stream: the zip-bomb form) before it writes any of them.
std::string OverlapProblem(std::streambuf& buffer, const std::string& shown,
                           const std::vector<ArchiveEntry>& entries) {
    std::string name;
    if (!FindOverlap(StreamWindow{&buffer, 0, 0}, entries, name)) {
        return std::string();
    }
    return "the payload zip " + shown + ": " + (name.empty() ? "an entry" : "the entry " + name) +
           " overlaps another entry or the directory (the form of a zip bomb), and the launcher "
           "refuses the whole archive";
}

bool CheckZipPayload(const fs::path& path, bool showProgress, Payload& payload,
                     std::string& error) {
    std::string shown = PathToUtf8(path);
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        error = "cannot open the payload " + shown;
        return false;
    }
    std::string firstBytes(4, '\0');
    std::streamsize got = input.rdbuf()->sgetn(&firstBytes[0], 4);
    firstBytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    std::vector<ArchiveEntry> entries;
    std::string reason;
    bool listed = ListArchive(*input.rdbuf(), 0, entries, reason);
    // An archive without entries is its end record alone, which minizip
    // does not open.
    if ((listed && entries.empty()) || (!listed && firstBytes == std::string("PK\x05\x06", 4))) {
        error = "the payload zip " + shown + " has no entries";
        return false;
    }
    if (!listed) {
        error =
            "the payload " + shown + " is neither a folder nor a readable zip archive: " + reason;
        return false;
    }
    if (!StartsWithLocalHeader(firstBytes)) {
        error = "the payload zip " + shown +
                " does not start with a local file header (PK\\3\\4): the launcher would not "
                "find where it begins";
        return false;
    }
    if (entries.size() > kMaxEntriesPerRun) {
        error = "the payload zip " + shown + " has " + std::to_string(entries.size()) +
                " entries, more than the " + std::to_string(kMaxEntriesPerRun) +
                " the launcher extracts in one run";
        return false;
    }
    error = OverlapProblem(*input.rdbuf(), shown, entries);
    if (!error.empty()) {
        return false;
    }
    payload.fileBytes = static_cast<uint64_t>(input.rdbuf()->pubseekoff(0, std::ios_base::end));
    return CheckZipEntries(*input.rdbuf(), entries, showProgress, payload, error);
}

bool CopyZipPayload(const fs::path& path, std::streambuf& buffer, uint64_t base,
                    ProgressMeter* progress, std::string& error) {
    std::ifstream input(path, std::ios::binary);
    std::streamoff start = static_cast<std::streamoff>(base);
    if (!input || buffer.pubseekpos(start) != std::streampos(start)) {
        error = "cannot copy the payload " + PathToUtf8(path);
        return false;
    }
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        if (Interrupted()) {
            error = "interrupted";
            return false;
        }
        std::streamsize got =
            input.rdbuf()->sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (got <= 0) {
            break;
        }
        if (buffer.sputn(chunk.data(), got) != got) {
            error = "cannot write the payload into the package";
            return false;
        }
        if (progress != nullptr) {
            progress->AddBytes(static_cast<uint64_t>(got));
        }
    }
    return true;
}

// A zip payload with entries left out: the kept entries written anew.
bool RewriteZipPayload(const Payload& payload, std::streambuf& buffer, uint64_t base,
                       const ZipWriteOptions& options, std::string& error) {
    std::ifstream input(payload.path, std::ios::binary);
    if (!input) {
        error = "cannot open the payload " + PathToUtf8(payload.path);
        return false;
    }
    const PayloadExclusion& exclusion = payload.exclusion;
    auto keeps = [&exclusion](const std::string& name) {
        return exclusion.Excluding(name) == nullptr;
    };
    return RewriteZipArchive(*input.rdbuf(), buffer, base, keeps, options, error);
}

}  // namespace

bool StartsWithLocalHeader(const std::string& firstBytes) {
    return firstBytes.size() >= 4 && firstBytes.compare(0, 4, "PK\x03\x04", 4) == 0;
}

bool TakenByteForByte(const Payload& payload) {
    return payload.kind == PayloadKind::ZipArchive && payload.leftOut.empty();
}

bool ReadPayload(const fs::path& path, Payload& payload, std::string& error,
                 const PayloadReading& reading) {
    payload = Payload();
    payload.path = path;
    payload.exclusion = PayloadExclusion(reading.excludes);
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    fs::file_status status = fs::status(path, failure);
    if (!fs::exists(status)) {
        error = "the payload " + shown + " does not exist";
        return false;
    }
    if (fs::is_directory(status)) {
        payload.kind = PayloadKind::Folder;
        TreeWalk walk{payload.exclusion, {}};
        if (!CollectPayloadTree(path, walk, payload.entries, error)) {
            return false;
        }
        payload.leftOut = walk.leftOut;
        if (payload.entries.empty()) {
            error = "the payload folder " + shown +
                    (payload.leftOut.empty() ? " is empty"
                                             : " has nothing left but what -x leaves out");
            return false;
        }
        payload.entryCount = payload.entries.size();
        return CheckFolderPayload(payload, error);
    }
    if (!fs::is_regular_file(status)) {
        error = "the payload " + shown + " is neither a folder nor a file";
        return false;
    }
    payload.kind = PayloadKind::ZipArchive;
    return CheckZipPayload(path, reading.showProgress, payload, error);
}

uint64_t SmallestArchiveSize(const Payload& payload, int level) {
    if (payload.kind == PayloadKind::ZipArchive) {
        return payload.fileBytes;  // a zip written anew: at least the kept entries' data
    }
    uint64_t total = kEndRecordLength;
    for (const PayloadEntry& entry : payload.entries) {
        total += kEntryOverhead + 2 * entry.name.size();
        if (!entry.facts.isDirectory && (level == 0 || IsCompressedByName(entry.name))) {
            total += entry.facts.size;
        }
    }
    return total;
}

bool WritePayload(const Payload& payload, std::streambuf& buffer, uint64_t base,
                  const ZipWriteOptions& options, std::string& error) {
    if (payload.kind == PayloadKind::Folder) {
        return WritePayloadZip(payload.entries, buffer, base, options, error);
    }
    if (!TakenByteForByte(payload)) {
        return RewriteZipPayload(payload, buffer, base, options, error);
    }
    return CopyZipPayload(payload.path, buffer, base, options.progress, error);
}
