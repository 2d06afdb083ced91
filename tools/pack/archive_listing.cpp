#include "tools/pack/archive_listing.h"

#include "extract/zip_attributes.h"
#include "tools/pack/zip_stream_io.h"
#include "unzip.h"

namespace {

// Owns an open unzip handle.
class UnzipHandle {
  public:
    explicit UnzipHandle(unzFile file) : file_(file) {}
    ~UnzipHandle() {
        if (file_ != nullptr) {
            unzClose(file_);
        }
    }
    UnzipHandle(const UnzipHandle&) = delete;
    UnzipHandle& operator=(const UnzipHandle&) = delete;
    unzFile get() const { return file_; }

  private:
    unzFile file_;
};

}  // namespace

bool ListArchive(std::streambuf& buffer, uint64_t base, std::vector<ArchiveEntry>& entries,
                 std::string& error) {
    entries.clear();
    StreamWindow window{&buffer, base};
    zlib_filefunc64_def functions;
    FillStreamFileFunctions(functions, window);
    UnzipHandle archive(unzOpen2_64("archive", &functions));
    if (archive.get() == nullptr) {
        error = "it does not open as a zip archive";
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
        ArchiveEntry entry;
        entry.name.assign(name.data(), info.size_filename);
        entry.size = info.uncompressed_size;
        entry.packedSize = info.compressed_size;
        entry.attributes =
            ZipEntryAttributes(static_cast<uint16_t>(info.version), info.external_fa);
        entries.push_back(entry);
        status = unzGoToNextFile(archive.get());
    }
    if (status != UNZ_END_OF_LIST_OF_FILE || entries.size() != global.number_entry) {
        error = "its zip directory is damaged after " + std::to_string(entries.size()) + " of " +
                std::to_string(global.number_entry) + " entries";
        return false;
    }
    return true;
}
