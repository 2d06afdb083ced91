#include "tools/pack/nested_archives.h"

#include <algorithm>
#include <vector>

#include "extract/cabinet_structure.h"
#include "extract/entry_rules.h"
#include "extract/zip_layout.h"
#include "tools/pack/archive_listing.h"
#include "tools/pack/native_text.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/zip_stream_io.h"

namespace {

constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uint64_t kEndRecordSize = 22;

bool IsFolderEntry(const ArchiveEntry& entry) {
    return (entry.attributes & kDirectoryAttribute) != 0 ||
           (!entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\'));
}

// An archive of nothing but its end record, which the launcher takes as empty.
bool IsEmptyZip(std::streambuf& bytes) {
    StreamByteSource source(StreamWindow{&bytes, 0, 0});
    unsigned char record[4];
    return source.Size() >= kEndRecordSize && source.Size() <= kEndRecordSize + 0xFFFF &&
           source.ReadAt(0, record, 4) && std::string(record, record + 4) == "PK\x05\x06";
}

}  // namespace

std::string NestedArchiveCheck::Check(const std::string& name, std::streambuf& bytes, int level) {
    NestedArchiveKind kind = NestedArchiveKindOf(std::string_view(name));
    if (kind == NestedArchiveKind::None) {
        return std::string();
    }
    if (level >= kMaxArchiveNesting) {
        return "the nested archive " + name + " lies more than " +
               std::to_string(kMaxArchiveNesting) +
               " archives deep, and the launcher would not extract it";
    }
    if (++archives_ > kMaxArchivesPerRun) {
        return "the nested archive " + name + " is one more than the " +
               std::to_string(kMaxArchivesPerRun) + " archives the launcher extracts in one run";
    }
    return kind == NestedArchiveKind::Zip ? CheckZip(name, bytes, level + 1)
                                          : CheckCabinet(name, bytes);
}

std::string NestedArchiveCheck::CountEntries(const std::string& name, uint64_t count) {
    entries_ += count;
    if (entries_ > kMaxEntriesPerRun) {
        return "with the nested archive " + name + " the payload holds more than the " +
               std::to_string(kMaxEntriesPerRun) + " entries the launcher extracts in one run";
    }
    return std::string();
}

std::string NestedArchiveCheck::CheckZip(const std::string& name, std::streambuf& bytes,
                                         int level) {
    std::vector<ArchiveEntry> entries;
    std::string reason;
    if (!ListArchive(bytes, 0, entries, reason)) {
        return IsEmptyZip(bytes) ? std::string()
                                 : "the nested archive " + name + " cannot be opened: " + reason;
    }
    StreamByteSource source(StreamWindow{&bytes, 0, 0});
    if (ReadZipLayout(source).overlapping) {
        return "the nested archive " + name +
               " has entries that overlap (the form of a zip bomb), and the launcher refuses it";
    }
    std::string problem = CountEntries(name, entries.size());
    std::vector<std::string> nested;
    for (size_t i = 0; i < entries.size() && problem.empty(); ++i) {
        const ArchiveEntry& entry = entries[i];
        problem = ZipEntryProblem(entry.name, entry.utf8, IsFolderEntry(entry), entry.encrypted,
                                  entry.method);
        if (!IsFolderEntry(entry) &&
            NestedArchiveKindOf(std::string_view(entry.name)) != NestedArchiveKind::None) {
            nested.push_back(entry.name);
        }
    }
    std::vector<std::string> contents;
    if (problem.empty() && !ReadArchiveData(bytes, 0, nested, contents, problem)) {
        problem = "it cannot be extracted: " + problem;
    }
    for (size_t i = 0; i < nested.size() && problem.empty(); ++i) {
        MemoryStreamBuffer inner(contents[i]);
        problem = Check(nested[i], inner, level);
    }
    return problem.empty() || problem.compare(0, 11, "the nested ") == 0
               ? problem
               : "in the nested archive " + name + ": " + problem;
}

std::string NestedArchiveCheck::CheckCabinet(const std::string& name, std::streambuf& bytes) {
    StreamByteSource source(StreamWindow{&bytes, 0, 0});
    std::vector<CabinetMemberName> members;
    CabinetStructure structure = CheckCabinetStructure(source, &members);
    if (!structure.sound) {
        return "the nested cabinet " + name +
               " would not extract: " + AsciiFromWide(structure.reason);
    }
    std::string problem = CountEntries(name, structure.fileCount);
    for (const CabinetMemberName& member : members) {
        if (!problem.empty()) {
            break;
        }
        std::string stored = member.stored;
        std::replace(stored.begin(), stored.end(), '\\', '/');
        problem = ZipEntryProblem(stored, member.utf8, false, false, 0);
        problem = problem.empty() ? problem : "in the nested cabinet " + name + ": " + problem;
    }
    return problem;
}
