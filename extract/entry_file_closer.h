#pragma once
// Finishing extracted files off the extracting thread. An on-access scanner
// scans a new file when its writer closes it, and the close waits for the
// scan: closed one after another, a payload of thousands of files waits that
// many scans. The extraction hands each written file to a few threads that
// close it (with what must come before and after the close: its times and
// attributes) and goes on with the next entry; before anything reads what was
// extracted, it waits until every file handed over is finished and learns
// which could not be.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/unique_handle.h"

// A file whose content is written in full and stamped, to be closed.
struct WrittenFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring name;      // the entry as its failure's log line names it
    DWORD error = 0;        // after the close: its result
    uint64_t sequence = 0;  // the order it was handed over in
};

// Closes the file's handle; ERROR_SUCCESS or the close's error.
// Goes through the close call in use (SetWrittenFileClose).
DWORD CloseWrittenFile(WrittenFile& file);
// Seam for tests and the benchmark build: the call that closes each written
// file (a slow or failing close, a simulated scan); null restores the
// platform's own close.
using WrittenFileClose = DWORD (*)(WrittenFile& file);
void SetWrittenFileClose(WrittenFileClose close);
// The platform's close of a written file, for seams that wrap it.
DWORD PlatformCloseWrittenFile(WrittenFile& file);

// How many threads finish files: 4 by default. A scan of a few milliseconds
// per file and a new file every millisecond or two keep two or three busy;
// more would only lengthen the scanner's own queue. Threads start only once a
// close is slow (see EntryFileCloser::Submit). 0 finishes every file on the
// thread that hands it over (the benchmark's comparison).
void SetEntryFileCloserThreads(unsigned threads);
unsigned EntryFileCloserThreads();

class EntryFileCloser {
  public:
    EntryFileCloser();
    ~EntryFileCloser();
    EntryFileCloser(const EntryFileCloser&) = delete;
    EntryFileCloser& operator=(const EntryFileCloser&) = delete;

    // Takes over the file. Finishes it at once as long as closes are quick;
    // after a slow one, queues it for the pool, waiting while kQueueCapacity
    // files wait, so that open handles and memory stay few whatever the
    // payload's size.
    void Submit(WrittenFile file);
    // Waits until every file handed over so far is finished; those that
    // failed, in the order they were handed over.
    std::vector<WrittenFile> Drain();
    // Waits the same, keeping the failures for the next Drain: before a file
    // is written again under a name that may still be being finished.
    void Settle();

    static constexpr size_t kQueueCapacity = 64;

  private:
    static DWORD WINAPI WorkerMain(void* self);
    void Work();
    void FinishOne(WrittenFile& file);   // on any thread, without the lock
    void FinishHere(WrittenFile& file);  // on the submitting thread
    bool StartWorker();                  // with the lock held
    void WaitUntilFinished();            // with the lock held

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE workReady_ = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE spaceFree_ = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE allDone_ = CONDITION_VARIABLE_INIT;
    std::deque<WrittenFile> queue_;
    std::vector<WrittenFile> failed_;
    std::vector<UniqueKernelHandle> workers_;
    unsigned maxWorkers_;
    unsigned idleWorkers_ = 0;
    size_t unfinished_ = 0;  // handed over and not yet finished
    uint64_t nextSequence_ = 0;
    bool waitingForSpace_ = false;  // Submit waits for the queue to shrink
    unsigned slowCloses_ = 0;       // closes made here in a row that took as long as a scan
    bool stopping_ = false;
};
