#include "extract/cabinet_structure.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/little_endian.h"
#include "extract/entry_rules.h"

namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderRecordSize = 8;
constexpr size_t kFileRecordSize = 16;
constexpr size_t kBlockHeaderSize = 8;
constexpr uint16_t kPreviousCabinet = 0x0001;
constexpr uint16_t kNextCabinet = 0x0002;
constexpr uint16_t kReservePresent = 0x0004;
constexpr uint16_t kStored = 0;
constexpr uint16_t kMszip = 1;
constexpr uint16_t kFirstContinuedFolder = 0xFFFD;  // 0xFFFD..0xFFFF: shared with other cabinets
constexpr uint32_t kMaxBlockUnpacked = 0x8000;
constexpr uint32_t kMaxBlockPacked = 0x8000 + 6144;
constexpr size_t kMaxNameSize = kLongestCabinetLibraryText + 1;  // terminator included
constexpr size_t kHistorySize = 0x8000;
constexpr uint16_t kNameIsUtf8 = 0x80;  // in a file record's attributes

struct Folder {
    uint32_t dataStart = 0;
    uint16_t blockCount = 0;
    uint16_t type = 0;
    uint64_t unpackedSize = 0;
};

struct Header {
    uint32_t cabinetSize = 0;  // every structure must lie below this
    uint32_t filesOffset = 0;
    uint16_t folderCount = 0;
    uint16_t fileCount = 0;
    uint64_t foldersOffset = 0;
    size_t folderReserve = 0;
    size_t blockReserve = 0;
};

CabinetStructure Refuse(const wchar_t* reason) {
    CabinetStructure result;
    result.reason = reason;
    return result;
}

bool ReadInside(ByteSource& source, uint64_t limit, uint64_t offset, void* buffer, size_t length) {
    return offset <= limit && length <= limit - offset && source.ReadAt(offset, buffer, length);
}

const wchar_t* ReadHeader(ByteSource& source, Header& header) {
    unsigned char fixed[kHeaderSize];
    if (!source.ReadAt(0, fixed, kHeaderSize) || std::memcmp(fixed, "MSCF", 4) != 0) {
        return L"it is not a cabinet";
    }
    header.cabinetSize = ReadLe32(fixed + 8);
    if (header.cabinetSize < kHeaderSize || header.cabinetSize > source.Size()) {
        return L"the size its header states does not match the file";
    }
    header.filesOffset = ReadLe32(fixed + 16);
    header.folderCount = ReadLe16(fixed + 26);
    header.fileCount = ReadLe16(fixed + 28);
    uint16_t flags = ReadLe16(fixed + 30);
    if ((flags & (kPreviousCabinet | kNextCabinet)) != 0) {
        return L"it continues from or into another cabinet";
    }
    if (header.folderCount == 0) {
        return L"it declares no folders";
    }
    header.foldersOffset = kHeaderSize;
    if ((flags & kReservePresent) != 0) {
        unsigned char reserve[4];
        if (!ReadInside(source, header.cabinetSize, kHeaderSize, reserve, sizeof(reserve))) {
            return L"its header is cut short";
        }
        header.folderReserve = reserve[2];
        header.blockReserve = reserve[3];
        header.foldersOffset = kHeaderSize + sizeof(reserve) + ReadLe16(reserve);
    }
    return nullptr;
}

const wchar_t* ReadFolders(ByteSource& source, const Header& header, std::vector<Folder>& folders) {
    folders.resize(header.folderCount);
    uint64_t stride = kFolderRecordSize + header.folderReserve;
    for (size_t i = 0; i < folders.size(); ++i) {
        unsigned char record[kFolderRecordSize];
        if (!ReadInside(source, header.cabinetSize, header.foldersOffset + i * stride, record,
                        sizeof(record))) {
            return L"a folder record lies outside the file";
        }
        folders[i].dataStart = ReadLe32(record);
        folders[i].blockCount = ReadLe16(record + 4);
        folders[i].type = ReadLe16(record + 6);
        if (folders[i].type != kStored && folders[i].type != kMszip) {
            return L"its compression type cannot be checked before extraction";
        }
    }
    return nullptr;
}

// Inflates one MSZIP block ("CK" and a complete deflate stream whose window
// starts with the folder's earlier output); true when it gives exactly
// expected bytes. The history then ends with this block's output.
bool InflateBlock(const unsigned char* data, size_t length, uint32_t expected,
                  std::vector<unsigned char>& history, std::vector<unsigned char>& output) {
    if (length < 2 || data[0] != 'C' || data[1] != 'K') {
        return false;
    }
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return false;
    }
    bool ok = history.empty() || inflateSetDictionary(&stream, history.data(),
                                                      static_cast<uInt>(history.size())) == Z_OK;
    if (ok) {
        stream.next_in = const_cast<Bytef*>(data + 2);
        stream.avail_in = static_cast<uInt>(length - 2);
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        ok = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out == expected;
    }
    inflateEnd(&stream);
    if (ok) {
        history.insert(history.end(), output.begin(), output.begin() + expected);
        if (history.size() > kHistorySize) {
            history.erase(history.begin(), history.end() - kHistorySize);
        }
    }
    return ok;
}

// Walks a folder's data blocks from its start; end is where they stop.
const wchar_t* CheckFolderData(ByteSource& source, const Header& header, Folder& folder,
                               uint64_t& end) {
    std::vector<unsigned char> data(kMaxBlockPacked);
    std::vector<unsigned char> output(kMaxBlockUnpacked + 1);
    std::vector<unsigned char> history;
    uint64_t position = folder.dataStart;
    for (unsigned block = 0; block < folder.blockCount; ++block) {
        unsigned char blockHeader[kBlockHeaderSize];
        if (!ReadInside(source, header.cabinetSize, position, blockHeader, sizeof(blockHeader))) {
            return L"a data block lies outside the file";
        }
        uint32_t checksum = ReadLe32(blockHeader);
        uint16_t packed = ReadLe16(blockHeader + 4);
        uint16_t unpacked = ReadLe16(blockHeader + 6);
        position += kBlockHeaderSize + header.blockReserve;
        if (unpacked == 0 || unpacked > kMaxBlockUnpacked || packed > kMaxBlockPacked ||
            (folder.type == kStored && packed != unpacked)) {
            return L"a data block has sizes the format does not allow";
        }
        if (!ReadInside(source, header.cabinetSize, position, data.data(), packed)) {
            return L"a data block lies outside the file";
        }
        if (checksum != 0 && CabinetChecksum(blockHeader + 4, 4,
                                             CabinetChecksum(data.data(), packed, 0)) != checksum) {
            return L"a data block's checksum does not match";
        }
        if (folder.type == kMszip &&
            !InflateBlock(data.data(), packed, unpacked, history, output)) {
            return L"a compressed data block is damaged";
        }
        folder.unpackedSize += unpacked;
        position += packed;
    }
    end = position;
    return nullptr;
}

// Folders in the order of their data; no folder's data may reach into the next.
const wchar_t* CheckAllFolderData(ByteSource& source, const Header& header,
                                  std::vector<Folder>& folders) {
    std::vector<size_t> order(folders.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&folders](size_t a, size_t b) {
        return folders[a].dataStart < folders[b].dataStart;
    });
    uint64_t previousEnd = 0;
    for (size_t index : order) {
        if (folders[index].dataStart < previousEnd) {
            return L"the data of two folders overlap";
        }
        const wchar_t* problem = CheckFolderData(source, header, folders[index], previousEnd);
        if (problem != nullptr) {
            return problem;
        }
    }
    return nullptr;
}

const wchar_t* CheckFiles(ByteSource& source, const Header& header,
                          const std::vector<Folder>& folders, CabinetStructure& result,
                          std::vector<CabinetMemberName>* names) {
    uint64_t position = header.filesOffset;
    for (unsigned i = 0; i < header.fileCount; ++i) {
        unsigned char record[kFileRecordSize];
        if (!ReadInside(source, header.cabinetSize, position, record, sizeof(record))) {
            return L"a file record lies outside the file";
        }
        position += kFileRecordSize;
        uint32_t size = ReadLe32(record);
        uint32_t folderOffset = ReadLe32(record + 4);
        uint16_t folder = ReadLe16(record + 8);
        unsigned char name[kMaxNameSize];
        size_t available = position < header.cabinetSize
                               ? std::min<uint64_t>(kMaxNameSize, header.cabinetSize - position)
                               : 0;
        if (available == 0 || !source.ReadAt(position, name, available)) {
            return L"a file name lies outside the file";
        }
        const void* terminator = std::memchr(name, 0, available);
        if (terminator == nullptr || terminator == name) {
            return L"a file name is empty, unterminated or too long";
        }
        size_t nameLength = static_cast<const unsigned char*>(terminator) - name;
        position += nameLength + 1;
        if (names != nullptr) {
            names->push_back(
                CabinetMemberName{std::string(reinterpret_cast<const char*>(name), nameLength),
                                  (ReadLe16(record + 14) & kNameIsUtf8) != 0});
        }
        if (folder >= kFirstContinuedFolder) {
            return L"a file continues from or into another cabinet";
        }
        if (folder >= folders.size()) {
            return L"a file names a folder that does not exist";
        }
        if (static_cast<uint64_t>(folderOffset) + size > folders[folder].unpackedSize) {
            return L"a file reaches beyond its folder's data";
        }
        result.declaredSize += size;
    }
    result.fileCount = header.fileCount;
    return nullptr;
}

}  // namespace

uint32_t CabinetChecksum(const unsigned char* data, size_t length, uint32_t seed) {
    uint32_t sum = seed;
    size_t whole = length / 4;
    for (size_t i = 0; i < whole; ++i) {
        sum ^= ReadLe32(data + 4 * i);
    }
    const unsigned char* rest = data + 4 * whole;
    uint32_t last = 0;
    switch (length % 4) {
        case 3:
            last |= static_cast<uint32_t>(*rest++) << 16;
            [[fallthrough]];
        case 2:
            last |= static_cast<uint32_t>(*rest++) << 8;
            [[fallthrough]];
        case 1:
            last |= *rest;
            break;
        default:
            break;
    }
    return sum ^ last;
}

CabinetStructure CheckCabinetStructure(ByteSource& source, std::vector<CabinetMemberName>* names) {
    Header header;
    std::vector<Folder> folders;
    CabinetStructure result;
    const wchar_t* problem = ReadHeader(source, header);
    if (problem == nullptr) {
        problem = ReadFolders(source, header, folders);
    }
    if (problem == nullptr) {
        problem = CheckAllFolderData(source, header, folders);
    }
    if (problem == nullptr) {
        problem = CheckFiles(source, header, folders, result, names);
    }
    if (problem != nullptr) {
        return Refuse(problem);
    }
    result.sound = true;
    return result;
}
