// The pure pieces of zip extraction that whole archives cannot reach well:
// name checks, DOS date validity, extra-field bounds, damaged data streams
// and the entry folder split.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "extract/entry_data_decoder.h"
#include "extract/entry_name.h"
#include "extract/extraction_driver.h"
#include "extract/zip_extra_field.h"
#include "extract/zip_time.h"

namespace {

TEST(EntryName, RelativeNamesInsideTheFolderPass) {
    for (const wchar_t* name : {L"readme.txt", L"docs/guide.txt", L"a\\b\\c.dat", L"data/maps/",
                                L"notes.zip.txt", L"a..b/c", L"...name", L"dir/.hidden", L"a//b",
                                L"console.txt", L"com10.txt", L"lpt.txt"}) {
        EXPECT_TRUE(IsEntryNameInside(name)) << std::wstring(name).size();
    }
}

TEST(EntryName, NamesLeavingTheFolderAreRefused) {
    for (const wchar_t* name : {L"",
                                L"../x",
                                L"..\\x",
                                L"a/../../x",
                                L"a\\..",
                                L"..",
                                L"/x",
                                L"\\x",
                                L"C:x",
                                L"C:\\x",
                                L"\\\\srv\\share\\x",
                                L"//srv/share/x",
                                L"a/ ../x",
                                L"a/.. /x",
                                L"a/.../x",
                                L"./x",
                                L"file.txt:stream",
                                L"NUL",
                                L"nul.txt",
                                L"dir/CON",
                                L"Com1.log",
                                L"LPT9",
                                L"aux .txt",
                                L"COM\u00b9",
                                L"lpt\u00b2.txt",
                                L"dir/COM\u00b3.log",
                                L"\\\\?\\C:\\x"}) {
        EXPECT_FALSE(IsEntryNameInside(name)) << std::wstring(name).size();
    }
    EXPECT_FALSE(IsEntryNameInside(static_cast<const wchar_t*>(nullptr)));
}

TEST(EntryName, NarrowNamesAreCheckedAfterConversion) {
    EXPECT_TRUE(IsEntryNameInside("docs\\readme.txt"));
    EXPECT_FALSE(IsEntryNameInside("..\\escape.txt"));
    EXPECT_FALSE(IsEntryNameInside("C:\\drive.txt"));
    EXPECT_FALSE(IsEntryNameInside(""));
    EXPECT_FALSE(IsEntryNameInside(static_cast<const char*>(nullptr)));
}

TEST(ZipTime, DosFieldsDecodeAndInvalidOnesAreRefused) {
    SYSTEMTIME time;
    // 2021-03-04 05:06:08
    ASSERT_TRUE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, (5 << 11) | (6 << 5) | 4, &time));
    EXPECT_EQ(time.wYear, 2021);
    EXPECT_EQ(time.wMonth, 3);
    EXPECT_EQ(time.wDay, 4);
    EXPECT_EQ(time.wHour, 5);
    EXPECT_EQ(time.wMinute, 6);
    EXPECT_EQ(time.wSecond, 8);
    EXPECT_EQ(time.wMilliseconds, 0);
    EXPECT_TRUE(DecodeDosDateTime((20 << 9) | (2 << 5) | 29, 0, &time));    // 2000-02-29
    EXPECT_FALSE(DecodeDosDateTime((21 << 9) | (2 << 5) | 29, 0, &time));   // 2001-02-29
    EXPECT_FALSE(DecodeDosDateTime((120 << 9) | (2 << 5) | 29, 0, &time));  // 2100: no leap day
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (0 << 5) | 4, 0, &time));    // month 0
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (4 << 5) | 31, 0, &time));   // 31 April
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, 24 << 11, &time));
    EXPECT_FALSE(DecodeDosDateTime((41 << 9) | (3 << 5) | 4, 30, &time));  // 60 seconds

    FILETIME file = {1, 1};
    EXPECT_FALSE(ZipTimeToFileTime(0, 0, &file));  // month 0 of 1980
    EXPECT_EQ(file.dwLowDateTime | file.dwHighDateTime, 0u);
}

// An extra field built block by block: tag, size, data.
struct Field {
    std::vector<unsigned char> bytes;
    Field& Block(unsigned tag, unsigned size) {
        bytes.push_back(static_cast<unsigned char>(tag));
        bytes.push_back(static_cast<unsigned char>(tag >> 8));
        bytes.push_back(static_cast<unsigned char>(size));
        bytes.push_back(static_cast<unsigned char>(size >> 8));
        return *this;
    }
    Field& Byte(unsigned value) {
        bytes.push_back(static_cast<unsigned char>(value));
        return *this;
    }
    Field& Time(int32_t value) {
        uint32_t bits = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
        }
        return *this;
    }
};

TEST(ExtraField, NeverReadsPastTheFieldOrTheBlock) {
    // The buffer holds more than the field's length: what lies beyond must stay unread.
    Field data;
    data.Block(0x5455, 5).Byte(1).Time(42);
    for (size_t length : {size_t{0}, size_t{4}, size_t{5}, size_t{8}}) {
        ExtendedTimestamps times = FindExtendedTimestamps(data.bytes.data(), length);
        EXPECT_FALSE(times.hasModification) << length;
    }
    EXPECT_TRUE(FindExtendedTimestamps(data.bytes.data(), 9).hasModification);

    Field shortBlock;  // flags promise three times, the block holds one and a half
    shortBlock.Block(0x5455, 7).Byte(7).Time(1).Byte(9).Byte(9).Block(0x5455, 5).Byte(1).Time(2);
    ExtendedTimestamps times =
        FindExtendedTimestamps(shortBlock.bytes.data(), shortBlock.bytes.size());
    EXPECT_TRUE(times.hasModification);
    EXPECT_EQ(times.modification, 1);
    EXPECT_FALSE(times.hasAccess || times.hasCreation);

    Field huge;  // a size far beyond the field ends the walk
    huge.Block(0x0001, 0xFFFF).Byte(0).Block(0x5455, 5).Byte(1).Time(3);
    EXPECT_FALSE(FindExtendedTimestamps(huge.bytes.data(), huge.bytes.size()).hasModification);
    EXPECT_FALSE(FindExtendedTimestamps(nullptr, 20).hasModification);
}

// An in-memory source that hands out its bytes in small pieces.
struct MemorySource {
    std::vector<unsigned char> data;
    size_t position = 0;
    unsigned piece = 7;
    bool failAtEnd = false;
    static int Read(void* context, unsigned char* buffer, unsigned capacity) {
        MemorySource* self = static_cast<MemorySource*>(context);
        if (self->position == self->data.size()) {
            return self->failAtEnd ? -1 : 0;
        }
        size_t count =
            std::min<size_t>({capacity, self->piece, self->data.size() - self->position});
        std::memcpy(buffer, self->data.data() + self->position, count);
        self->position += count;
        return static_cast<int>(count);
    }
};

std::vector<unsigned char> RawDeflate(const std::string& text) {
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> out(text.size() + 64);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string DecodeAll(EntryDataDecoder& decoder, int* status) {
    std::string out;
    unsigned char buffer[1000];
    for (;;) {
        int got = decoder.Read(buffer, sizeof(buffer));
        if (got <= 0) {
            *status = got;
            return out;
        }
        out.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(got));
    }
}

TEST(EntryDataDecoder, TruncatedDamagedOrOversizedDataFails) {
    std::string text(5000, 'a');
    for (size_t i = 0; i < text.size(); i += 3) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    EntryDataFormat format;
    format.method = kDeflateMethod;
    format.declaredSize = static_cast<uint32_t>(text.size());
    int status = 0;

    MemorySource truncated;
    truncated.data = RawDeflate(text);
    truncated.data.resize(truncated.data.size() / 2);
    EntryDataDecoder first(MemorySource::Read, &truncated, format);
    DecodeAll(first, &status);
    EXPECT_EQ(status, DecodeFailed);
    unsigned char buffer[16];
    EXPECT_EQ(first.Read(buffer, sizeof(buffer)), DecodeFailed);  // stays failed

    MemorySource garbage;
    garbage.data.assign(200, 0xFF);
    EntryDataDecoder second(MemorySource::Read, &garbage, format);
    DecodeAll(second, &status);
    EXPECT_EQ(status, DecodeFailed);

    MemorySource failing;
    failing.data.assign(100, 'x');
    failing.failAtEnd = true;
    EntryDataFormat stored;
    stored.declaredSize = 1000;
    EntryDataDecoder third(MemorySource::Read, &failing, stored);
    DecodeAll(third, &status);
    EXPECT_EQ(status, DecodeFailed);

    MemorySource oversized;
    oversized.data.assign(100, 'x');
    stored.declaredSize = 60;
    EntryDataDecoder fourth(MemorySource::Read, &oversized, stored);
    std::string out = DecodeAll(fourth, &status);
    EXPECT_EQ(status, DecodeFailed);
    EXPECT_LE(out.size(), 60u);

    EntryDataFormat other;
    other.method = 12;
    MemorySource any;
    EntryDataDecoder fifth(MemorySource::Read, &any, other);
    EXPECT_EQ(fifth.Read(buffer, sizeof(buffer)), DecodeFailed);
}

std::wstring Folder(const wchar_t* name) {
    std::unique_ptr<wchar_t[]> folder(GetEntryFolder(name));
    return folder == nullptr ? L"<null>" : folder.get();
}

TEST(GetEntryFolder, FolderPartWithBackslashes) {
    EXPECT_EQ(Folder(L"docs/guide.txt"), L"docs");
    EXPECT_EQ(Folder(L"data/maps/"), L"data\\maps");
    EXPECT_EQ(Folder(L"a\\b\\c.dat"), L"a\\b");
    EXPECT_EQ(Folder(L"a/b\\c/d.txt"), L"a\\b\\c");
    EXPECT_EQ(Folder(L"readme.txt"), L"<null>");
    EXPECT_EQ(Folder(L"/x"), L"<null>");
    EXPECT_EQ(Folder(L"//srv/x"), L"<null>");
    EXPECT_EQ(Folder(L"\\a\\b"), L"<null>");
    EXPECT_EQ(Folder(L""), L"<null>");
    EXPECT_EQ(Folder(nullptr), L"<null>");
}

}  // namespace
