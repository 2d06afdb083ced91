#include "tools/pack/payload_zip.h"

#include <algorithm>
#include <fstream>
#include <limits>

#include "tools/pack/console_output.h"
#include "tools/pack/deflate_ahead.h"
#include "tools/pack/interruption.h"
#include "tools/pack/native_text.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/progress.h"
#include "tools/pack/zip_stream_io.h"
#include "zip.h"

namespace {

constexpr uint16_t kZipVersion20 = 20;
constexpr uLong kUtf8NameFlag = 1u << 11;
// Entries and offsets of the plain zip format are 32-bit.
constexpr uint64_t kLargestEntry = 0xFFFFFFFEu;
constexpr size_t kCopyChunk = 64 * 1024;

void AppendLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// Owns the zip handle; closes it without a central directory when the
// archive is abandoned half way.
class ZipHandle {
  public:
    explicit ZipHandle(zipFile file) : file_(file) {}
    ~ZipHandle() {
        if (file_ != nullptr) {
            zipClose(file_, nullptr);
        }
    }
    ZipHandle(const ZipHandle&) = delete;
    ZipHandle& operator=(const ZipHandle&) = delete;
    zipFile get() const { return file_; }
    int Close() {
        int result = zipClose(file_, nullptr);
        file_ = nullptr;
        return result;
    }

  private:
    zipFile file_;
};

constexpr uint64_t kLeastGainPercent = 3;

// Whether the file is stored as it is: by level, by name, or because its
// first part does not deflate well.
bool StoreAsIs(const PayloadEntry& entry, const ZipWriteOptions& options) {
    if (options.level == 0 || IsCompressedByName(entry.name)) {
        return true;
    }
    std::ifstream input(entry.source, std::ios::binary);
    std::vector<char> sample(
        static_cast<size_t>(std::min<uint64_t>(entry.facts.size, kDeflateSampleLength)));
    input.read(sample.data(), static_cast<std::streamsize>(sample.size()));
    size_t got = static_cast<size_t>(input.gcount());
    return !DeflateGainsEnough(sample.data(), got, options.level);
}

bool CopyFileIntoEntry(zipFile zip, const PayloadEntry& entry, ProgressMeter* progress,
                       std::string& error) {
    std::ifstream input(entry.source, std::ios::binary);
    if (!input) {
        error = "cannot open " + PathToUtf8(entry.source);
        return false;
    }
    std::vector<char> chunk(kCopyChunk);
    uint64_t total = 0;
    while (input) {
        if (Interrupted()) {
            return false;
        }
        input.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::streamsize got = input.gcount();
        if (got <= 0) {
            break;
        }
        total += static_cast<uint64_t>(got);
        if (total > kLargestEntry) {
            error = PathToUtf8(entry.source) + " has grown past 4 GiB while it was read";
            return false;
        }
        if (zipWriteInFileInZip(zip, chunk.data(), static_cast<unsigned>(got)) != ZIP_OK) {
            error = "cannot write the archive";
            return false;
        }
        if (progress != nullptr) {
            progress->AddBytes(static_cast<uint64_t>(got));
        }
    }
    if (input.bad()) {
        error = "cannot read " + PathToUtf8(entry.source);
        return false;
    }
    return true;
}

}  // namespace

DosDateTime ToDosDateTime(const CalendarTime& local) {
    CalendarTime time = local;
    if (time.year < 1980) {
        time = CalendarTime();
    } else if (time.year > 2107) {
        time = CalendarTime{2107, 12, 31, 23, 59, 58};
    }
    DosDateTime dos;
    dos.date = static_cast<uint16_t>(((time.year - 1980) << 9) | (time.month << 5) | time.day);
    dos.time = static_cast<uint16_t>((time.hour << 11) | (time.minute << 5) | (time.second / 2));
    return dos;
}

std::string ExtendedTimestampBlock(int64_t unixTime) {
    if (unixTime < std::numeric_limits<int32_t>::min() ||
        unixTime > std::numeric_limits<int32_t>::max()) {
        return std::string();
    }
    std::string block = "UT";
    AppendLittleEndian(block, 5, 2);
    block.push_back('\x01');  // modification time only
    AppendLittleEndian(block, static_cast<uint32_t>(static_cast<int32_t>(unixTime)), 4);
    return block;
}

uint16_t VersionMadeBy(uint16_t hostSystem) {
    return static_cast<uint16_t>((hostSystem << 8) | kZipVersion20);
}

bool DeflateWhole(const char* data, size_t length, int level, ByteBlock& out, bool& text) {
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return false;
    }
    size_t bound = deflateBound(&stream, static_cast<uLong>(length));
    out.bytes.reset(new char[bound]);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(length);
    stream.next_out = reinterpret_cast<Bytef*>(out.bytes.get());
    stream.avail_out = static_cast<uInt>(bound);
    int result = deflate(&stream, Z_FINISH);
    out.length = stream.total_out;
    text = stream.data_type == Z_TEXT;
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

bool PackedGainsEnough(uint64_t packedLength, uint64_t length) {
    return packedLength * 100 <= length * (100 - kLeastGainPercent);
}

bool DeflateGainsEnough(const char* sample, size_t length, int level) {
    if (length == 0) {
        return false;
    }
    ByteBlock packed;
    bool text = false;
    return !DeflateWhole(sample, length, level, packed, text) ||
           PackedGainsEnough(packed.length, length);
}

namespace {

int64_t StoredTime(const PayloadEntry& entry, const ZipWriteOptions& options) {
    int64_t time = entry.facts.modifiedUnixTime;
    return options.capTimes && time > options.timeCap ? options.timeCap : time;
}

// Starts the entry's headers: stored or deflated, and with raw, data that
// the caller hands over in its final form (internalAttributes then says
// whether it is text, as the deflate would have).
bool OpenEntry(zipFile zip, const PayloadEntry& entry, const ZipWriteOptions& options, bool stored,
               bool raw, uLong internalAttributes, std::string& error) {
    if (entry.facts.size > kLargestEntry) {
        error = PathToUtf8(entry.source) + " is 4 GiB or larger, more than a zip entry holds";
        return false;
    }
    zip_fileinfo info = {};
    int64_t time = StoredTime(entry, options);
    CalendarTime calendar;
    ToUtcCalendar(time, calendar);
    DosDateTime dos = ToDosDateTime(calendar);
    info.dosDate = (static_cast<uLong>(dos.date) << 16) | dos.time;
    info.internal_fa = internalAttributes;
    info.external_fa = entry.facts.externalAttributes;
    std::string timestamp = ExtendedTimestampBlock(time);
    int opened = zipOpenNewFileInZip4_64(
        zip, entry.name.c_str(), &info, timestamp.data(), static_cast<uInt>(timestamp.size()),
        timestamp.data(), static_cast<uInt>(timestamp.size()), nullptr, stored ? 0 : Z_DEFLATED,
        stored ? 0 : options.level, raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
        nullptr, 0, VersionMadeBy(entry.facts.hostSystem), entry.nameIsUtf8 ? kUtf8NameFlag : 0, 0);
    if (opened != ZIP_OK) {
        error = "cannot add " + entry.name + " to the archive";
        return false;
    }
    return true;
}

void ReportEntryAdded(const PayloadEntry& entry, const ZipWriteOptions& options, bool stored) {
    if (options.verbose) {
        WriteOut("  adding: " + entry.name + (stored ? " (stored)\n" : " (deflated)\n"));
    }
    if (options.progress != nullptr) {
        options.progress->FileDone();
    }
}

// Reads, and deflates unless stored, the entry's file as it goes.
bool AddEntry(zipFile zip, const PayloadEntry& entry, const ZipWriteOptions& options, bool stored,
              std::string& error) {
    bool isDirectory = entry.facts.isDirectory;
    if (!OpenEntry(zip, entry, options, stored, false, 0, error)) {
        return false;
    }
    if (!isDirectory && !CopyFileIntoEntry(zip, entry, options.progress, error)) {
        return false;
    }
    if (zipCloseFileInZip(zip) != ZIP_OK) {
        error = "cannot finish " + entry.name + " in the archive";
        return false;
    }
    ReportEntryAdded(entry, options, stored);
    return true;
}

// Writes an entry a worker prepared: its bytes as they are, or, when the
// worker left it, the entry read and deflated here.
bool AddPreparedEntry(zipFile zip, const PayloadEntry& entry, const ZipWriteOptions& options,
                      const PreparedEntry& prepared, std::string& error) {
    if (Interrupted()) {
        return false;  // WritePayload tells the interruption
    }
    bool stored =
        prepared.decided ? prepared.stored : entry.facts.isDirectory || StoreAsIs(entry, options);
    if (!prepared.hasData) {
        return AddEntry(zip, entry, options, stored, error);
    }
    if (!OpenEntry(zip, entry, options, stored, true, prepared.text ? Z_TEXT : 0, error)) {
        return false;
    }
    if (prepared.data.length > 0 &&
        zipWriteInFileInZip(zip, prepared.data.bytes.get(),
                            static_cast<unsigned>(prepared.data.length)) != ZIP_OK) {
        error = "cannot write the archive";
        return false;
    }
    if (options.progress != nullptr) {
        options.progress->AddBytes(prepared.size);
    }
    if (zipCloseFileInZipRaw64(zip, prepared.size, prepared.crc) != ZIP_OK) {
        error = "cannot finish " + entry.name + " in the archive";
        return false;
    }
    ReportEntryAdded(entry, options, stored);
    return true;
}

// Every entry in turn, the workers preparing those ahead.
bool AddPreparedEntries(zipFile zip, const std::vector<PayloadEntry>& entries,
                        const ZipWriteOptions& options, std::string& error) {
    DeflateAhead ahead(entries, options, options.threads);
    for (size_t index = 0; index < entries.size(); ++index) {
        bool added = AddPreparedEntry(zip, entries[index], options, ahead.Take(index), error);
        ahead.Release(index);
        if (!added) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool WritePayloadZip(const std::vector<PayloadEntry>& entries, std::streambuf& buffer,
                     uint64_t base, const ZipWriteOptions& options, std::string& error) {
    StreamWindow window{&buffer, base};
    zlib_filefunc64_def functions;
    FillStreamFileFunctions(functions, window);
    ZipHandle zip(zipOpen2_64("payload", APPEND_STATUS_CREATE, nullptr, &functions));
    if (zip.get() == nullptr) {
        error = "cannot start the archive";
        return false;
    }
    if (options.threads > 1) {
        if (!AddPreparedEntries(zip.get(), entries, options, error)) {
            return false;
        }
    } else {
        for (const PayloadEntry& entry : entries) {
            bool stored = entry.facts.isDirectory || StoreAsIs(entry, options);
            if (!AddEntry(zip.get(), entry, options, stored, error)) {
                return false;
            }
        }
    }
    if (zip.Close() != ZIP_OK) {
        error = "cannot finish the archive's directory";
        return false;
    }
    return true;
}

namespace {

// The current entry of source, its compressed data as it is, into zip: the
// same name, flags, time, attributes, extra fields and CRC-32.
bool CopyRawEntry(unzFile source, zipFile zip, const std::string& name, const unz_file_info64& info,
                  const std::vector<char>& centralExtra, const ZipWriteOptions& options,
                  std::string& error) {
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(source, &method, &level, 1) != UNZ_OK) {
        error = "cannot read " + name + " from the payload zip";
        return false;
    }
    std::vector<char> localExtra(static_cast<size_t>(unzGetLocalExtrafield(source, nullptr, 0)));
    unzGetLocalExtrafield(source, localExtra.data(), static_cast<unsigned>(localExtra.size()));
    zip_fileinfo fileInfo = {};
    fileInfo.dosDate = info.dosDate;
    fileInfo.internal_fa = info.internal_fa;
    fileInfo.external_fa = info.external_fa;
    bool opened =
        zipOpenNewFileInZip4_64(zip, name.c_str(), &fileInfo, localExtra.data(),
                                static_cast<uInt>(localExtra.size()), centralExtra.data(),
                                static_cast<uInt>(centralExtra.size()), nullptr, method, level, 1,
                                -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                info.version, info.flag & kUtf8NameFlag, 0) == ZIP_OK;
    std::vector<char> chunk(kCopyChunk);
    int got = 0;
    while (opened && (got = unzReadCurrentFile(source, chunk.data(),
                                               static_cast<unsigned>(chunk.size()))) > 0) {
        opened = !Interrupted() &&
                 zipWriteInFileInZip(zip, chunk.data(), static_cast<unsigned>(got)) == ZIP_OK;
        if (options.progress != nullptr) {
            options.progress->AddBytes(static_cast<uint64_t>(got));
        }
    }
    unzCloseCurrentFile(source);
    if (!opened || got < 0 ||
        zipCloseFileInZipRaw64(zip, info.uncompressed_size, info.crc) != ZIP_OK) {
        error = "cannot copy " + name + " into the archive";
        return false;
    }
    return true;
}

}  // namespace

bool RewriteZipArchive(std::streambuf& source, std::streambuf& buffer, uint64_t base,
                       const std::function<bool(const std::string&)>& keeps,
                       const ZipWriteOptions& options, std::string& error) {
    StreamWindow sourceWindow{&source, 0, 0};
    UnzipHandle archive(OpenWindowArchive(sourceWindow, error));
    StreamWindow window{&buffer, base};
    zlib_filefunc64_def functions;
    FillStreamFileFunctions(functions, window);
    ZipHandle zip(archive.get() == nullptr
                      ? nullptr
                      : zipOpen2_64("payload", APPEND_STATUS_CREATE, nullptr, &functions));
    if (zip.get() == nullptr) {
        error = "cannot start the archive";
        return false;
    }
    std::vector<char> name(65536);
    for (int status = unzGoToFirstFile(archive.get()); status == UNZ_OK;
         status = unzGoToNextFile(archive.get())) {
        unz_file_info64 info;
        std::vector<char> extra(65536);
        if (unzGetCurrentFileInfo64(archive.get(), &info, name.data(),
                                    static_cast<uLong>(name.size()), extra.data(),
                                    static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK) {
            error = "the payload zip's directory cannot be read";
            return false;
        }
        std::string entryName(name.data(), info.size_filename);
        extra.resize(info.size_file_extra);
        if (!keeps(entryName)) {
            continue;
        }
        if (!CopyRawEntry(archive.get(), zip.get(), entryName, info, extra, options, error)) {
            return false;
        }
        if (options.verbose) {
            WriteOut("  copying: " + entryName + "\n");
        }
        if (options.progress != nullptr) {
            options.progress->FileDone();
        }
    }
    if (zip.Close() != ZIP_OK) {
        error = "cannot finish the archive's directory";
        return false;
    }
    return true;
}
