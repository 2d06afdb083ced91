#include "tools/pack/package_check.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "common/little_endian.h"
#include "extract/entry_rules.h"
#include "extract/byte_source.h"
#include "extract/cabinet_structure.h"
#include "extract/zip_layout.h"
#include "package/package_layout.h"
#include "tools/pack/console_output.h"
#include "tools/pack/native_text.h"
#include "tools/pack/package_plan.h"
#include "tools/pack/package_report.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/progress.h"
#include "tools/pack/zip_stream_io.h"

namespace {

constexpr uint32_t kReadOnlyAttribute = 0x01;
constexpr size_t kCertificateHeader = 8;
// Far more than any signature with its chain and time stamps takes; a table
// named larger is damaged, and is not read into memory.
constexpr uint32_t kLargestCertificateTable = 16 * 1024 * 1024;

NestedArchiveKind NestedKind(const std::string& name) {
    return NestedArchiveKindOf(std::string_view(name));
}

// Walks one archive and the archives inside it, counting as it goes.
class ArchiveWalk {
  public:
    explicit ArchiveWalk(PackageCheck& check) : check_(check) {}

    bool Fail(const std::string& part, const std::string& problem) {
        check_.part = part;
        check_.problem = problem;
        return false;
    }

    // Lists the archive, checks each entry's rules, reads every entry and
    // follows the nested ones; prefix names the archive the entries are in.
    bool WalkZip(std::streambuf& buffer, uint64_t base, uint64_t end, const std::string& prefix,
                 int level, ProgressMeter* progress, const ClientChoice* client);

    // An archive entry of name (with the part it lies in) holding content,
    // in an archive at level (the payload is 0).
    bool TakeNested(const std::string& name, std::string& content, int level);

  private:
    bool CountArchive(const std::string& part);
    bool CheckEntries(const std::vector<ArchiveEntry>& entries, const std::string& prefix);
    bool TakeCabinet(const std::string& name, const std::string& content);
    bool CheckRewrittenFile(const std::vector<ArchiveEntry>& entries, const std::string& name,
                            const std::string& content);
    bool FailReading(const std::string& prefix, const std::string& reason);

    PackageCheck& check_;
};

bool ArchiveWalk::CountArchive(const std::string& part) {
    // The nested archives and the payload itself.
    if (check_.nestedArchives + 1 > kMaxArchivesPerRun) {
        return Fail(part, "the launcher walks at most " + std::to_string(kMaxArchivesPerRun) +
                              " archives in one run");
    }
    return true;
}

bool ArchiveWalk::CheckEntries(const std::vector<ArchiveEntry>& entries,
                               const std::string& prefix) {
    for (const ArchiveEntry& entry : entries) {
        std::string problem = ArchiveEntryProblem(entry);
        if (!problem.empty()) {
            return Fail(prefix + StoredNameToUtf8(entry.name, entry.utf8), problem);
        }
        check_.bytes += entry.size;
    }
    check_.entries += entries.size();
    if (check_.entries > kMaxEntriesPerRun) {
        return Fail(prefix.empty() ? "archive" : prefix,
                    "more than the " + std::to_string(kMaxEntriesPerRun) +
                        " entries the launcher extracts in one run");
    }
    return true;
}

bool ArchiveWalk::TakeCabinet(const std::string& name, const std::string& content) {
    MemoryByteSource source(reinterpret_cast<const unsigned char*>(content.data()), content.size());
    std::vector<CabinetMemberName> members;
    CabinetStructure cabinet = CheckCabinetStructure(source, &members);
    if (!cabinet.sound) {
        return Fail(name, "the cabinet is damaged: " + AsciiFromWide(cabinet.reason));
    }
    for (const CabinetMemberName& stored : members) {
        std::string member = StoredNameToUtf8(stored.stored, stored.utf8);
        std::replace(member.begin(), member.end(), '\\', '/');
        std::string problem = EntryNameProblem(member);
        if (!problem.empty()) {
            return Fail(name + ": " + member, problem);
        }
    }
    check_.entries += cabinet.fileCount;
    check_.bytes += cabinet.declaredSize;
    return true;
}

bool ArchiveWalk::TakeNested(const std::string& name, std::string& content, int level) {
    ++check_.nestedArchives;
    if (!CountArchive(name)) {
        return false;
    }
    if (NestedKind(name) == NestedArchiveKind::Cabinet) {
        return TakeCabinet(name, content);
    }
    MemoryStreamBuffer nested(content);
    return WalkZip(nested, 0, 0, name + ": ", level + 1, nullptr, nullptr);
}

bool ArchiveWalk::CheckRewrittenFile(const std::vector<ArchiveEntry>& entries,
                                     const std::string& name, const std::string& content) {
    bool readOnly = false;
    for (const ArchiveEntry& entry : entries) {
        readOnly |= entry.name == name && (entry.attributes & kReadOnlyAttribute) != 0;
    }
    std::string problem = RewrittenFileProblem(name, readOnly, content);
    return problem.empty() || Fail(name, problem);
}

// A read failure of the walk, "the entry NAME: why", fails that entry.
bool ArchiveWalk::FailReading(const std::string& prefix, const std::string& reason) {
    const std::string lead = "the entry ";
    size_t colon = reason.find(": ");
    bool named = reason.rfind(lead, 0) == 0 && colon != std::string::npos;
    return Fail(prefix + (named ? reason.substr(lead.size(), colon - lead.size()) : "archive"),
                named ? reason.substr(colon + 2) : reason);
}

bool ArchiveWalk::WalkZip(std::streambuf& buffer, uint64_t base, uint64_t end,
                          const std::string& prefix, int level, ProgressMeter* progress,
                          const ClientChoice* client) {
    std::vector<ArchiveEntry> entries;
    std::string reason;
    StreamByteSource bytes(StreamWindow{&buffer, base, end});
    if (!ListArchive(buffer, base, entries, reason, end)) {
        if (IsEmptyZip(bytes)) {
            return true;  // the launcher extracts it as empty
        }
        return Fail(prefix.empty() ? "archive" : prefix.substr(0, prefix.size() - 2),
                    "the zip archive cannot be read: " + reason);
    }
    std::string overlapping;
    if (FindOverlap(StreamWindow{&buffer, base, end}, entries, overlapping)) {
        return Fail(prefix + (overlapping.empty() ? "directory" : overlapping),
                    "it overlaps another entry or the directory (the form of a zip bomb): the "
                    "launcher refuses the whole archive");
    }
    if (!CheckEntries(entries, prefix)) {
        return false;
    }
    EntryVisitor visitor;
    visitor.progress = progress;
    visitor.keeps = [&](const std::string& name) {
        return (level < kMaxArchiveNesting && NestedKind(name) != NestedArchiveKind::None) ||
               (client != nullptr && IsRewrittenFile(name, *client));
    };
    visitor.take = [&](const std::string& name, std::string& content, std::string&) {
        bool rewritten = client != nullptr && IsRewrittenFile(name, *client);
        return (!rewritten || CheckRewrittenFile(entries, name, content)) &&
               (NestedKind(name) == NestedArchiveKind::None ||
                TakeNested(prefix + name, content, level));
    };
    if (!VisitArchiveEntries(buffer, base, end, visitor, reason) && check_.problem.empty()) {
        return FailReading(prefix, reason);
    }
    return check_.problem.empty();
}

uint64_t TotalSize(const std::vector<ArchiveEntry>& entries) {
    uint64_t total = 0;
    for (const ArchiveEntry& entry : entries) {
        total += entry.size;
    }
    return total;
}

std::vector<std::string> FileNames(const std::vector<ArchiveEntry>& entries) {
    std::vector<std::string> names;
    for (const ArchiveEntry& entry : entries) {
        if (entry.name.empty() || entry.name.back() != '/') {
            names.push_back(entry.name);
        }
    }
    return names;
}

// The marker, the locale text, the extent and the signature table.
bool CheckPackageHead(std::streambuf& buffer, PackageFindings& found, PackageCheck& check) {
    std::string error;
    if (!FindPackage(buffer, found, error)) {
        check.part = found.layout.result == 1 ? "archive" : "marker";
        check.problem = error;
        return false;
    }
    std::string text = LauncherPropertyText(found.layout);
    error = CheckLocaleText(found.layout.propertyRead ? text : std::string(300, 'x'));
    if (!error.empty()) {
        check.part = "locale text";
        check.problem = error;
        return false;
    }
    error = SignatureTableProblem(buffer, found.head.data(), found.head.size(), found.fileSize);
    if (!error.empty()) {
        check.part = "signature";
        check.problem = error;
        return false;
    }
    check.signedPackage = found.signature.present;
    return true;
}

}  // namespace

std::string SignatureTableProblem(std::streambuf& buffer, const unsigned char* head,
                                  size_t headLength, uint64_t fileSize) {
    size_t field = SecurityDirectoryField(head, headLength);
    if (field == 0 || field + 8 > headLength) {
        return std::string();
    }
    uint32_t offset = ReadLe32(head + field);
    uint32_t size = ReadLe32(head + field + 4);
    if (offset == 0 && size == 0) {
        return std::string();
    }
    std::string where = "the signature table the PE headers name (offset " +
                        std::to_string(offset) + ", " + std::to_string(size) + " bytes)";
    if (!FindCertificateTable(head, headLength, fileSize).present) {
        return where + " does not end where the file ends: the package is cut short or damaged";
    }
    if (size > kLargestCertificateTable) {
        return where + " is damaged: no signature is that large";
    }
    std::vector<unsigned char> table(size);
    if (buffer.pubseekpos(offset) != std::streampos(offset) ||
        buffer.sgetn(reinterpret_cast<char*>(table.data()), size) != std::streamsize(size)) {
        return where + " cannot be read";
    }
    // WIN_CERTIFICATE records: length, revision, type; each padded to 8 bytes.
    for (size_t at = 0; at < table.size();) {
        uint32_t length = at + kCertificateHeader <= table.size() ? ReadLe32(table.data() + at) : 0;
        uint16_t revision = length != 0 ? ReadLe16(table.data() + at + 4) : 0;
        if (length < kCertificateHeader || length > table.size() - at ||
            (revision != 0x0100 && revision != 0x0200)) {
            return where + " is damaged: its certificate record at offset " +
                   std::to_string(offset + at) + " does not fit the table";
        }
        at += (static_cast<size_t>(length) + 7) / 8 * 8;
    }
    return std::string();
}

bool CheckNestedArchive(const std::string& name, std::string& content, int level,
                        PackageCheck& check) {
    ArchiveWalk walk(check);
    return walk.TakeNested(name, content, level);
}

PackageCheck CheckPackage(std::streambuf& buffer, const CheckSettings& settings) {
    PackageCheck check;
    PackageFindings found;
    if (!CheckPackageHead(buffer, found, check)) {
        return check;
    }
    std::vector<std::string> files = FileNames(found.entries);
    ClientChoice client = ChooseClient(files);
    if (client.program.empty()) {
        check.part = "client";
        check.problem = MissingClientProblem(files);
        return check;
    }
    ProgressMeter progress(settings.showProgress, found.entries.size(), TotalSize(found.entries));
    ArchiveWalk walk(check);
    check.sound = walk.WalkZip(buffer, static_cast<uint64_t>(found.layout.archiveOffset),
                               found.archiveEnd, std::string(), 0, &progress, &client);
    progress.Finish();
    return check;
}

namespace {

std::string CheckJson(const std::string& shown, const PackageCheck& check) {
    std::string json =
        "{\"package\": " + JsonString(shown) + ", \"ok\": " + (check.sound ? "true" : "false");
    if (!check.sound) {
        return json + ", \"part\": " + JsonString(check.part) +
               ", \"problem\": " + JsonString(check.problem) + "}\n";
    }
    return json + ", \"entries\": " + std::to_string(check.entries) +
           ", \"nested_archives\": " + std::to_string(check.nestedArchives) +
           ", \"bytes\": " + std::to_string(check.bytes) +
           ", \"signed\": " + (check.signedPackage ? "true" : "false") + "}\n";
}

std::string CheckSummary(const std::string& shown, const PackageCheck& check) {
    return "velmar-pack: " + shown + ": OK: " + std::to_string(check.entries) + " entries, " +
           std::to_string(check.nestedArchives) + " nested archives, " +
           std::to_string(check.bytes) + " bytes, " +
           (check.signedPackage ? "signed" : "not signed") + "\n";
}

}  // namespace

int TestPackage(const std::filesystem::path& path, bool json, bool quiet, bool progress) {
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    std::ifstream input(path, std::ios::binary);
    PackageCheck check;
    if (!std::filesystem::is_regular_file(path, failure) || !input) {
        check.part = "package";
        check.problem = "it is not a file that can be read";
    } else {
        CheckSettings settings;
        settings.showProgress = !quiet && (progress || ErrorIsTerminal());
        check = CheckPackage(*input.rdbuf(), settings);
    }
    if (json) {
        WriteOut(CheckJson(shown, check));
    } else if (check.sound && !quiet) {
        WriteOut(CheckSummary(shown, check));
    }
    if (!check.sound) {
        WriteError("velmar-pack: " + shown + " fails the test: " + check.part + ": " +
                   check.problem + "\n");
    }
    return check.sound ? 0 : 1;
}
