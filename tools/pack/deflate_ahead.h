#pragma once
// Preparing a folder payload's entries on worker threads ahead of the one
// thread that writes the archive in name order: each file is read, its CRC-32
// taken, the store-or-deflate decision made and, when deflated, the whole
// file deflated by one worker with the parameters the writer itself uses, so
// the archive has the same bytes whatever the number of threads.
//
// Memory stays bounded whatever the payload: files larger than
// kLargestPrepared are left to the writer, which streams them as a run on one
// thread does; prepared entries waiting to be written hold at most
// kPreparedBudget bytes (the entry the writer waits for is always prepared),
// and each worker holds one file and its deflated form while it works.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/pack/payload_tree.h"
#include "tools/pack/payload_zip.h"

// What a worker made of one entry.
struct PreparedEntry {
    bool ready = false;
    bool decided = false;  // stored is the decision; otherwise the writer makes it
    bool stored = false;   // stored as it is (a folder, compressed already, gains too little)
    bool hasData = false;  // data holds the entry's bytes as written: deflated, or stored
    ByteBlock data;
    uint32_t crc = 0;
    uint64_t size = 0;  // the file's length
    bool text = false;  // zlib took the deflated data for text
};

class DeflateAhead {
  public:
    static constexpr uint64_t kLargestPrepared = 8 * 1024 * 1024;
    static constexpr uint64_t kPreparedBudget = 64 * 1024 * 1024;

    // Starts threads workers over entries, which must outlive this.
    DeflateAhead(const std::vector<PayloadEntry>& entries, const ZipWriteOptions& options,
                 unsigned threads);
    ~DeflateAhead();
    DeflateAhead(const DeflateAhead&) = delete;
    DeflateAhead& operator=(const DeflateAhead&) = delete;

    // The entry at index, once prepared; entries are taken in order.
    const PreparedEntry& Take(size_t index);
    // The writer is done with the entry at index: its memory is given back.
    void Release(size_t index);

  private:
    void Work();
    uint64_t Cost(size_t index) const;
    bool MayPrepare(size_t index) const;  // with the lock held

    const std::vector<PayloadEntry>& entries_;
    const ZipWriteOptions& options_;
    std::vector<PreparedEntry> prepared_;
    std::mutex lock_;
    std::condition_variable workFree_;
    std::condition_variable entryReady_;
    size_t nextToPrepare_ = 0;
    size_t nextToWrite_ = 0;
    uint64_t bytesWaiting_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
