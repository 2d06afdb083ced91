#include "tools/pack/deflate_ahead.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "tools/pack/interruption.h"
#include "tools/pack/payload_rules.h"
#include "tools/pack/payload_zip.h"
#include "zlib.h"

namespace {

// The whole file, when it can be read and holds at most limit bytes: read
// at once into a block of its expected size, one byte more to see it grow.
bool ReadWholeFile(const std::filesystem::path& source, uint64_t expected, uint64_t limit,
                   ByteBlock& bytes) {
    std::ifstream input(source, std::ios::binary);
    if (!input || expected > limit || Interrupted()) {
        return false;
    }
    bytes.bytes.reset(new char[expected + 1]);
    input.read(bytes.bytes.get(), static_cast<std::streamsize>(expected + 1));
    bytes.length = static_cast<size_t>(input.gcount());
    return !input.bad() && bytes.length <= expected;
}

// The file's bytes deflated when that gains enough, by the writer's own rule
// on its first part; otherwise the bytes themselves, to be stored.
void DeflateOrStore(const PayloadEntry& entry, const ZipWriteOptions& options, ByteBlock bytes,
                    PreparedEntry& out) {
    if (options.level != 0 && !IsCompressedByName(entry.name)) {
        size_t sample = static_cast<size_t>(
            std::min<uint64_t>({entry.facts.size, bytes.length, kDeflateSampleLength}));
        ByteBlock packed;
        bool text = false;
        bool deflated = DeflateWhole(bytes.bytes.get(), sample, options.level, packed, text);
        if (sample > 0 && (!deflated || PackedGainsEnough(packed.length, sample))) {
            if (sample < bytes.length) {
                deflated =
                    DeflateWhole(bytes.bytes.get(), bytes.length, options.level, packed, text);
            }
            if (!deflated) {
                return;  // left to the writer, which meets the failure itself
            }
            out.data = std::move(packed);
            out.text = text;
            out.hasData = true;
            out.decided = true;
            return;
        }
    }
    out.stored = true;
    out.data = std::move(bytes);
    out.hasData = true;
    out.decided = true;
}

// What the writer needs of one entry; a file that is too large, or that
// cannot be read here, is left undecided for the writer to take as a run on
// one thread does (and to report its failure in the same words).
void PrepareEntry(const PayloadEntry& entry, const ZipWriteOptions& options, PreparedEntry& out) {
    out.size = entry.facts.size;
    if (entry.facts.isDirectory) {
        out.stored = true;
        out.decided = true;
        return;
    }
    ByteBlock bytes;
    if (!ReadWholeFile(entry.source, entry.facts.size, DeflateAhead::kLargestPrepared, bytes)) {
        return;
    }
    out.size = bytes.length;
    out.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.bytes.get()),
                                          static_cast<uInt>(bytes.length)));
    DeflateOrStore(entry, options, std::move(bytes), out);
}

}  // namespace

DeflateAhead::DeflateAhead(const std::vector<PayloadEntry>& entries, const ZipWriteOptions& options,
                           unsigned threads)
    : entries_(entries), options_(options), prepared_(entries.size()) {
    for (unsigned i = 0; i < threads; ++i) {
        workers_.emplace_back(&DeflateAhead::Work, this);
    }
}

DeflateAhead::~DeflateAhead() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    workFree_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

uint64_t DeflateAhead::Cost(size_t index) const {
    const FileFacts& facts = entries_[index].facts;
    return facts.isDirectory || facts.size > kLargestPrepared ? 0 : facts.size;
}

bool DeflateAhead::MayPrepare(size_t index) const {
    return index < entries_.size() &&
           (index == nextToWrite_ || bytesWaiting_ + Cost(index) <= kPreparedBudget);
}

void DeflateAhead::Work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        workFree_.wait(hold, [this] {
            return stopping_ || nextToPrepare_ >= entries_.size() || MayPrepare(nextToPrepare_);
        });
        if (stopping_ || nextToPrepare_ >= entries_.size()) {
            return;
        }
        size_t index = nextToPrepare_++;
        bytesWaiting_ += Cost(index);
        hold.unlock();
        PreparedEntry entry;
        PrepareEntry(entries_[index], options_, entry);
        entry.ready = true;
        hold.lock();
        prepared_[index] = std::move(entry);
        entryReady_.notify_all();
    }
}

const PreparedEntry& DeflateAhead::Take(size_t index) {
    std::unique_lock<std::mutex> hold(lock_);
    entryReady_.wait(hold, [this, index] { return prepared_[index].ready; });
    return prepared_[index];
}

void DeflateAhead::Release(size_t index) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        bytesWaiting_ -= Cost(index);
        prepared_[index].data = ByteBlock();
        nextToWrite_ = index + 1;
    }
    workFree_.notify_all();
}
