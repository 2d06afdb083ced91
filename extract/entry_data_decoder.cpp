#include "extract/entry_data_decoder.h"

EntryDataDecoder::EntryDataDecoder(StoredDataSource source, void* context,
                                   const EntryDataFormat& format)
    : source_(source), context_(context), format_(format) {
    headerChecked_ = !format_.encrypted;
    crc_ = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    if (format_.method == kDeflateMethod) {
        // Raw deflate: no zlib header, 32 KB window.
        inflating_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        if (!inflating_) {
            failure_ = DecodeFailed;
        }
    } else if (format_.method != kStoredMethod) {
        failure_ = DecodeFailed;
    }
}

EntryDataDecoder::~EntryDataDecoder() {
    if (inflating_) {
        inflateEnd(&stream_);
    }
}

int EntryDataDecoder::Fail(int status) {
    failure_ = status;
    return status;
}

// Reads from the source and decrypts what came.
int EntryDataDecoder::Pull(unsigned char* buffer, unsigned capacity) {
    int got = source_(context_, buffer, capacity);
    if (got < 0 || static_cast<unsigned>(got) > capacity) {
        return -1;
    }
    if (format_.encrypted) {
        cipher_.Decrypt(buffer, static_cast<size_t>(got));
    }
    return got;
}

bool EntryDataDecoder::CheckEncryptionHeader() {
    unsigned char header[kEncryptionHeaderSize];
    size_t have = 0;
    while (have < kEncryptionHeaderSize) {
        int got =
            source_(context_, header + have, static_cast<unsigned>(kEncryptionHeaderSize - have));
        if (got <= 0) {
            Fail(DecodeFailed);
            return false;
        }
        have += static_cast<size_t>(got);
    }
    if (!DecryptEncryptionHeader(cipher_, header, format_.checkByte)) {
        Fail(DecodeWrongPassword);
        return false;
    }
    headerChecked_ = true;
    return true;
}

int EntryDataDecoder::Deliver(const unsigned char* out, unsigned count) {
    if (length_ + count > format_.declaredSize) {
        // More content than the directory record declares: stop here rather
        // than let a damaged or hostile entry fill the disk.
        return Fail(DecodeFailed);
    }
    crc_ = static_cast<uint32_t>(crc32(crc_, out, count));
    length_ += count;
    return static_cast<int>(count);
}

int EntryDataDecoder::ReadStored(unsigned char* out, unsigned capacity) {
    int got = Pull(out, capacity);
    if (got < 0) {
        return Fail(DecodeFailed);
    }
    if (got == 0) {
        finished_ = true;
        return 0;
    }
    return Deliver(out, static_cast<unsigned>(got));
}

int EntryDataDecoder::ReadDeflated(unsigned char* out, unsigned capacity) {
    stream_.next_out = out;
    stream_.avail_out = capacity;
    while (stream_.avail_out == capacity) {
        if (stream_.avail_in == 0 && !sourceEnded_) {
            int got = Pull(input_, sizeof(input_));
            if (got < 0) {
                return Fail(DecodeFailed);
            }
            sourceEnded_ = got == 0;
            stream_.next_in = input_;
            stream_.avail_in = static_cast<uInt>(got);
        }
        int status = inflate(&stream_, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            finished_ = true;
            break;
        }
        if (status != Z_OK) {
            // Z_BUF_ERROR here means the stored data ended inside the stream.
            return Fail(DecodeFailed);
        }
    }
    unsigned produced = capacity - stream_.avail_out;
    return produced == 0 ? 0 : Deliver(out, produced);
}

int EntryDataDecoder::Read(unsigned char* out, unsigned capacity) {
    if (failure_ != 0) {
        return failure_;
    }
    if (!headerChecked_ && !CheckEncryptionHeader()) {
        return failure_;
    }
    if (finished_ || capacity == 0) {
        return 0;
    }
    return format_.method == kDeflateMethod ? ReadDeflated(out, capacity)
                                            : ReadStored(out, capacity);
}
