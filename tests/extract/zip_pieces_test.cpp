// The pieces of zip extraction that whole archives cannot reach well: names
// in the ANSI code page, damaged data streams and the entry folder split.
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

namespace {

TEST(EntryName, NarrowNamesAreCheckedAfterConversion) {
    EXPECT_TRUE(IsEntryNameInside("docs\\readme.txt"));
    EXPECT_FALSE(IsEntryNameInside("..\\escape.txt"));
    EXPECT_FALSE(IsEntryNameInside("C:\\drive.txt"));
    EXPECT_FALSE(IsEntryNameInside(""));
    EXPECT_FALSE(IsEntryNameInside(static_cast<const char*>(nullptr)));
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
