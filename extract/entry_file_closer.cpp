#include "extract/entry_file_closer.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace {

// A worker only closes handles and sets times and attributes: a small stack,
// reserved rather than committed, keeps the pool's working set near nothing.
constexpr SIZE_T kWorkerStackSize = 64 * 1024;
constexpr unsigned kDefaultThreads = 4;
constexpr unsigned kSlowClosesForPool = 3;

std::atomic<WrittenFileClose> closeCall{nullptr};
std::atomic<unsigned> closerThreads{kDefaultThreads};

// Holds an SRW lock exclusively for its scope.
class ExclusiveLock {
  public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

  private:
    SRWLOCK& lock_;
};

}  // namespace

DWORD PlatformCloseWrittenFile(WrittenFile& file) {
    HANDLE handle = std::exchange(file.handle, INVALID_HANDLE_VALUE);
    if (handle == INVALID_HANDLE_VALUE) {
        return ERROR_SUCCESS;
    }
    // The close's own result is the point here, which the owner type drops.
    return CloseHandle(handle) ? ERROR_SUCCESS : GetLastError();
}

DWORD CloseWrittenFile(WrittenFile& file) {
    WrittenFileClose call = closeCall.load();
    return call != nullptr ? call(file) : PlatformCloseWrittenFile(file);
}

void SetWrittenFileClose(WrittenFileClose close) {
    closeCall.store(close);
}

void SetEntryFileCloserThreads(unsigned threads) {
    closerThreads.store(threads);
}

unsigned EntryFileCloserThreads() {
    return closerThreads.load();
}

EntryFileCloser::EntryFileCloser() : maxWorkers_(EntryFileCloserThreads()) {}

EntryFileCloser::~EntryFileCloser() {
    Drain();
    {
        ExclusiveLock hold(lock_);
        stopping_ = true;
    }
    WakeAllConditionVariable(&workReady_);
    for (const UniqueKernelHandle& worker : workers_) {
        WaitForSingleObject(worker.get(), INFINITE);
    }
}

void EntryFileCloser::FinishOne(WrittenFile& file) {
    file.error = CloseWrittenFile(file);
}

// Finishes the file on the calling thread, as long as closes are quick (no
// scanner on close: a thread would only cost its start and its memory). A
// close of a millisecond or more waited for something, a scan most likely;
// after kSlowClosesForPool of them in a row (one could be a hiccup of a busy
// machine) the files go to the pool.
void EntryFileCloser::FinishHere(WrittenFile& file) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&start);
    FinishOne(file);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    ExclusiveLock hold(lock_);
    bool slow = (end.QuadPart - start.QuadPart) * 1000 >= frequency.QuadPart;
    slowCloses_ = slow ? slowCloses_ + 1 : 0;
    if (file.error != ERROR_SUCCESS) {
        failed_.push_back(std::move(file));
    }
}

// Threads start as the work needs them: closes that keep up with one thread
// never pay for four.
bool EntryFileCloser::StartWorker() {
    if (workers_.size() >= maxWorkers_) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, kWorkerStackSize, WorkerMain, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        maxWorkers_ = static_cast<unsigned>(workers_.size());
        return false;
    }
    workers_.emplace_back(thread);
    return true;
}

void EntryFileCloser::Submit(WrittenFile file) {
    AcquireSRWLockExclusive(&lock_);
    file.sequence = nextSequence_++;
    if (workers_.empty() && (slowCloses_ < kSlowClosesForPool || !StartWorker())) {
        ReleaseSRWLockExclusive(&lock_);
        FinishHere(file);
        return;
    }
    // One more thread once each one has two files waiting behind it: closes
    // that keep up by themselves need one.
    if (idleWorkers_ == 0 && queue_.size() >= 2 * workers_.size()) {
        StartWorker();
    }
    while (queue_.size() >= kQueueCapacity) {
        waitingForSpace_ = true;
        SleepConditionVariableSRW(&spaceFree_, &lock_, INFINITE, 0);
    }
    queue_.push_back(std::move(file));
    ++unfinished_;
    // A busy worker comes back for it by itself: no wake-up, no system call.
    bool wake = idleWorkers_ > 0;
    ReleaseSRWLockExclusive(&lock_);
    if (wake) {
        WakeConditionVariable(&workReady_);
    }
}

void EntryFileCloser::WaitUntilFinished() {
    while (unfinished_ > 0) {
        SleepConditionVariableSRW(&allDone_, &lock_, INFINITE, 0);
    }
}

void EntryFileCloser::Settle() {
    ExclusiveLock hold(lock_);
    WaitUntilFinished();
}

std::vector<WrittenFile> EntryFileCloser::Drain() {
    std::vector<WrittenFile> failures;
    {
        ExclusiveLock hold(lock_);
        WaitUntilFinished();
        failures.swap(failed_);
    }
    std::sort(failures.begin(), failures.end(),
              [](const WrittenFile& a, const WrittenFile& b) { return a.sequence < b.sequence; });
    return failures;
}

DWORD WINAPI EntryFileCloser::WorkerMain(void* self) {
    static_cast<EntryFileCloser*>(self)->Work();
    return 0;
}

void EntryFileCloser::Work() {
    AcquireSRWLockExclusive(&lock_);
    for (;;) {
        ++idleWorkers_;
        while (queue_.empty() && !stopping_) {
            SleepConditionVariableSRW(&workReady_, &lock_, INFINITE, 0);
        }
        --idleWorkers_;
        if (queue_.empty()) {
            break;  // stopping, and nothing left
        }
        WrittenFile file = std::move(queue_.front());
        queue_.pop_front();
        bool wake = std::exchange(waitingForSpace_, false);
        ReleaseSRWLockExclusive(&lock_);
        if (wake) {
            WakeConditionVariable(&spaceFree_);
        }
        FinishOne(file);
        AcquireSRWLockExclusive(&lock_);
        if (file.error != ERROR_SUCCESS) {
            failed_.push_back(std::move(file));
        }
        if (--unfinished_ == 0) {
            WakeAllConditionVariable(&allDone_);
        }
    }
    ReleaseSRWLockExclusive(&lock_);
}
