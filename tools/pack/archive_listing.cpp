#include "tools/pack/archive_listing.h"

#include "extract/zip_attributes.h"
#include "extract/zip_layout.h"
#include "tools/pack/native_text.h"
#include "tools/pack/interruption.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/progress.h"
#include "tools/pack/zip_stream_io.h"
#include "unzip.h"

namespace {

constexpr uLong kEncryptedFlag = 1;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uLong kUtf8NameFlag = 1u << 11;

// Reads the current entry to its end; minizip compares the CRC-32 there.
bool ReadCurrentEntry(unzFile archive, bool keep, ProgressMeter* progress, std::string& content,
                      std::string& reason) {
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        reason = "its local header does not match the directory";
        return false;
    }
    std::vector<char> chunk(64 * 1024);
    int got = 0;
    while ((got = unzReadCurrentFile(archive, chunk.data(), static_cast<unsigned>(chunk.size()))) >
           0) {
        if (keep) {
            content.append(chunk.data(), static_cast<size_t>(got));
        }
        if (progress != nullptr) {
            progress->AddBytes(static_cast<uint64_t>(got));
        }
        if (Interrupted()) {
            unzCloseCurrentFile(archive);
            reason = "interrupted";
            return false;
        }
    }
    int closed = unzCloseCurrentFile(archive);
    if (got < 0 || closed != UNZ_OK) {
        reason = closed == UNZ_CRCERROR ? "its data does not match its CRC-32"
                                        : "its data cannot be read";
        return false;
    }
    return true;
}

// One entry as the zip directory describes it.
ArchiveEntry EntryFromInfo(const char* name, const unz_file_info64& info) {
    ArchiveEntry entry;
    entry.name.assign(name, info.size_filename);
    entry.utf8 = (info.flag & kUtf8NameFlag) != 0;
    entry.method = static_cast<uint16_t>(info.compression_method);
    entry.encrypted = (info.flag & kEncryptedFlag) != 0;
    entry.crc = static_cast<uint32_t>(info.crc);
    entry.dosDate = static_cast<uint32_t>(info.dosDate);
    entry.size = info.uncompressed_size;
    entry.packedSize = info.compressed_size;
    entry.attributes = ZipEntryAttributes(static_cast<uint16_t>(info.version), info.external_fa);
    return entry;
}

}  // namespace

bool ListArchive(std::streambuf& buffer, uint64_t base, std::vector<ArchiveEntry>& entries,
                 std::string& error, uint64_t end) {
    entries.clear();
    StreamWindow window{&buffer, base, end};
    UnzipHandle archive(OpenWindowArchive(window, error));
    if (archive.get() == nullptr) {
        return false;
    }
    unz_global_info64 global;
    if (unzGetGlobalInfo64(archive.get(), &global) != UNZ_OK) {
        error = "its zip directory cannot be read";
        return false;
    }
    if (global.number_entry == 0) {
        return true;
    }
    std::vector<char> name(65536);
    int status = unzGoToFirstFile(archive.get());
    while (status == UNZ_OK) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive.get(), &info, name.data(),
                                    static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK) {
            break;
        }
        entries.push_back(EntryFromInfo(name.data(), info));
        status = unzGoToNextFile(archive.get());
    }
    if (status != UNZ_END_OF_LIST_OF_FILE || entries.size() != global.number_entry) {
        error = "its zip directory is damaged after " + std::to_string(entries.size()) + " of " +
                std::to_string(global.number_entry) + " entries";
        return false;
    }
    return true;
}

bool VisitArchiveEntries(std::streambuf& buffer, uint64_t base, uint64_t end,
                         const EntryVisitor& visitor, std::string& error) {
    StreamWindow window{&buffer, base, end};
    UnzipHandle archive(OpenWindowArchive(window, error));
    if (archive.get() == nullptr) {
        return false;
    }
    std::vector<char> name(65536);
    for (int status = unzGoToFirstFile(archive.get()); status == UNZ_OK;
         status = unzGoToNextFile(archive.get())) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive.get(), &info, name.data(),
                                    static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK) {
            error = "its zip directory cannot be read";
            return false;
        }
        std::string entryName(name.data(), info.size_filename);
        if (visitor.skips && visitor.skips(entryName)) {
            continue;
        }
        bool keep = visitor.keeps && visitor.keeps(entryName);
        std::string content;
        std::string reason;
        if (!ReadCurrentEntry(archive.get(), keep, visitor.progress, content, reason)) {
            error = reason == "interrupted" ? reason : "the entry " + entryName + ": " + reason;
            return false;
        }
        if (visitor.progress != nullptr) {
            visitor.progress->FileDone();
        }
        if (keep && !visitor.take(entryName, content, error)) {
            return false;
        }
    }
    return true;
}

bool ReadArchiveData(std::streambuf& buffer, uint64_t base, const std::vector<std::string>& wanted,
                     std::vector<std::string>& contents, std::string& error,
                     const std::function<bool(const std::string&)>& skips,
                     ProgressMeter* progress) {
    contents.assign(wanted.size(), std::string());
    auto slotOf = [&wanted](const std::string& entryName) {
        size_t slot = wanted.size();
        for (size_t i = 0; i < wanted.size(); ++i) {
            if (SameNameIgnoringCase(entryName, wanted[i])) {
                slot = i;
            }
        }
        return slot;
    };
    EntryVisitor visitor;
    visitor.skips = skips;
    visitor.progress = progress;
    visitor.keeps = [&](const std::string& entryName) { return slotOf(entryName) < wanted.size(); };
    visitor.take = [&](const std::string& entryName, std::string& content, std::string&) {
        contents[slotOf(entryName)].swap(content);
        return true;
    };
    return VisitArchiveEntries(buffer, base, 0, visitor, error);
}

std::string ArchiveEntryProblem(const ArchiveEntry& entry) {
    bool folder = (entry.attributes & kDirectoryAttribute) != 0;
    return ZipEntryProblem(entry.name, entry.utf8, folder, entry.encrypted, entry.method);
}

bool FindOverlap(StreamWindow window, const std::vector<ArchiveEntry>& entries,
                 std::string& entryName) {
    StreamByteSource source(window);
    ZipLayout layout = ReadZipLayout(source);
    entryName.clear();
    if (layout.overlapping && layout.overlappingRecord < entries.size()) {
        const ArchiveEntry& entry = entries[layout.overlappingRecord];
        entryName = StoredNameToUtf8(entry.name, entry.utf8);
    }
    return layout.overlapping;
}
