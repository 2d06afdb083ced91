#pragma once
// Turns an entry's data as stored in the archive (optionally encrypted with
// the traditional cipher and an empty password, stored or deflated) into its
// content, chunk by chunk, and keeps the CRC-32 and length of what it gave out.
#include "extract/traditional_cipher.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>

// Reads stored bytes of the entry: returns the count (> 0), 0 at their end, or
// a negative value when reading failed.
using StoredDataSource = int (*)(void* context, unsigned char* buffer, unsigned capacity);

enum DecodeStatus : int {
    DecodeFailed = -1,         // reading or inflating failed, or more data than declared
    DecodeWrongPassword = -2,  // the encryption header's check byte does not match
};

constexpr unsigned kStoredMethod = 0;
constexpr unsigned kDeflateMethod = 8;

struct EntryDataFormat {
    unsigned method = kStoredMethod;  // kStoredMethod or kDeflateMethod
    bool encrypted = false;
    unsigned char checkByte = 0;  // for encrypted entries
    uint32_t declaredSize = 0;    // uncompressed size from the directory record
};

class EntryDataDecoder {
  public:
    EntryDataDecoder(StoredDataSource source, void* context, const EntryDataFormat& format);
    ~EntryDataDecoder();
    EntryDataDecoder(const EntryDataDecoder&) = delete;
    EntryDataDecoder& operator=(const EntryDataDecoder&) = delete;

    // Fills out with up to capacity bytes of content: returns the count (> 0),
    // 0 when the content is complete, or a DecodeStatus. After a failure every
    // further call fails the same way.
    int Read(unsigned char* out, unsigned capacity);

    uint32_t crc() const { return crc_; }
    uint64_t length() const { return length_; }

  private:
    int Fail(int status);
    bool CheckEncryptionHeader();
    int ReadStored(unsigned char* out, unsigned capacity);
    int ReadDeflated(unsigned char* out, unsigned capacity);
    int Pull(unsigned char* buffer, unsigned capacity);
    int Deliver(const unsigned char* out, unsigned count);

    StoredDataSource source_;
    void* context_;
    EntryDataFormat format_;
    TraditionalCipher cipher_{""};
    bool headerChecked_ = false;
    bool sourceEnded_ = false;
    bool finished_ = false;
    int failure_ = 0;
    bool inflating_ = false;
    z_stream stream_ = {};
    unsigned char input_[16384];
    uint32_t crc_ = 0;
    uint64_t length_ = 0;
};
