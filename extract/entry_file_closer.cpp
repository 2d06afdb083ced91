#include "extract/entry_file_closer.h"

#include <io.h>

#include <algorithm>
#include <atomic>
#include <utility>

namespace {

// A worker only closes handles and sets times and attributes: a small stack,
// reserved rather than committed, keeps the pool's working set near nothing.
constexpr SIZE_T kWorkerStackSize = 64 * 1024;
constexpr unsigned kDefaultThreads = 4;

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
    if (file.handle != INVALID_HANDLE_VALUE) {
        HANDLE handle = std::exchange(file.handle, INVALID_HANDLE_VALUE);
        return CloseHandle(handle) ? ERROR_SUCCESS : GetLastError();
    }
    if (file.descriptor >= 0) {
        int descriptor = std::exchange(file.descriptor, -1);
        return _close(descriptor) == 0 ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
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
    file.error = file.finish != nullptr ? file.finish(file) : CloseWrittenFile(file);
}

// Threads start as the work needs them: a payload of a few files, or closes
// that keep up by themselves, never pay for four.
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
    // One more thread once each one has a file waiting behind it: closes that
    // keep up (no scanner, or a quick one) need one or two.
    if (idleWorkers_ == 0 && queue_.size() >= workers_.size()) {
        StartWorker();
    }
    if (workers_.empty()) {
        // No thread to hand it to: finished here, as without the pool.
        ReleaseSRWLockExclusive(&lock_);
        FinishOne(file);
        if (file.error != ERROR_SUCCESS) {
            ExclusiveLock hold(lock_);
            failed_.push_back(std::move(file));
        }
        return;
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
