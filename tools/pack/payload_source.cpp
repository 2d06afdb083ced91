#include "tools/pack/payload_source.h"

#include <fstream>
#include <system_error>

#include "tools/pack/archive_listing.h"
#include "tools/pack/native_text.h"
#include "tools/pack/payload_zip.h"

namespace {

namespace fs = std::filesystem;

bool CheckZipPayload(const fs::path& path, Payload& payload, std::string& error) {
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
    payload.entryCount = entries.size();
    return true;
}

bool CopyZipPayload(const fs::path& path, std::streambuf& buffer, uint64_t base,
                    std::string& error) {
    std::ifstream input(path, std::ios::binary);
    std::streamoff start = static_cast<std::streamoff>(base);
    if (!input || buffer.pubseekpos(start) != std::streampos(start)) {
        error = "cannot copy the payload " + PathToUtf8(path);
        return false;
    }
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        std::streamsize got =
            input.rdbuf()->sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (got <= 0) {
            break;
        }
        if (buffer.sputn(chunk.data(), got) != got) {
            error = "cannot write the payload into the package";
            return false;
        }
    }
    return true;
}

}  // namespace

bool StartsWithLocalHeader(const std::string& firstBytes) {
    return firstBytes.size() >= 4 && firstBytes.compare(0, 4, "PK\x03\x04", 4) == 0;
}

bool ReadPayload(const fs::path& path, Payload& payload, std::string& error) {
    payload = Payload();
    payload.path = path;
    std::string shown = PathToUtf8(path);
    std::error_code failure;
    fs::file_status status = fs::status(path, failure);
    if (!fs::exists(status)) {
        error = "the payload " + shown + " does not exist";
        return false;
    }
    if (fs::is_directory(status)) {
        payload.kind = PayloadKind::Folder;
        if (!CollectPayloadTree(path, payload.entries, error)) {
            return false;
        }
        if (payload.entries.empty()) {
            error = "the payload folder " + shown + " is empty";
            return false;
        }
        payload.entryCount = payload.entries.size();
        return true;
    }
    if (!fs::is_regular_file(status)) {
        error = "the payload " + shown + " is neither a folder nor a file";
        return false;
    }
    payload.kind = PayloadKind::ZipArchive;
    return CheckZipPayload(path, payload, error);
}

bool WritePayload(const Payload& payload, std::streambuf& buffer, uint64_t base,
                  std::string& error) {
    if (payload.kind == PayloadKind::Folder) {
        return WritePayloadZip(payload.entries, buffer, base, error);
    }
    return CopyZipPayload(payload.path, buffer, base, error);
}
