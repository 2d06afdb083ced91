#pragma once
// Calls that meet a file another program holds for a moment are tried again
// for a short while. On-access scanners, indexers and backup agents open files
// right after they are written, often without sharing their writing or
// deletion, and a deleted name stays in place while such a handle is open.
// Every retry of a run draws on one budget, so that a file held for good
// costs the run at most about a second in all.
#include <windows.h>

#include <atomic>
#include <functional>

constexpr DWORD kRunRetryBudgetMs = 1000;  // for all retries of a run together
constexpr DWORD kCallRetryLimitMs = 500;   // for the retries of one call
constexpr DWORD kFirstRetryPauseMs = 10;   // doubled after each pause, up to
constexpr DWORD kLongestRetryPauseMs = 160;

// Time to wait, shared by every thread of the run.
class RetryBudget {
  public:
    explicit RetryBudget(DWORD milliseconds) : left_(milliseconds) {}
    // Takes up to wanted milliseconds; what is granted (0 once spent).
    DWORD Take(DWORD wanted);
    DWORD Left() const { return left_.load(); }
    void Reset(DWORD milliseconds) { left_.store(milliseconds); }

  private:
    std::atomic<DWORD> left_;
};
RetryBudget& RunRetryBudget();

// Errors that tell of a holder who lets go soon: sharing and lock
// violations, and a name that is being deleted.
bool IsPassingFileError(DWORD error);

// What the platform tells of a name. Windows answers ERROR_ACCESS_DENIED (or
// ERROR_DELETE_PENDING) for a name that is deleted while a handle on it is
// still open: the name is not free yet, and nothing can be made under it.
enum class NamePresence { Absent, Present, BeingDeleted };
NamePresence PresenceFromAnswer(DWORD attributes, DWORD error);
NamePresence NamePresenceOf(const wchar_t* path);
// Something is under the name, or it is being deleted: it is not free.
bool IsNameTaken(const wchar_t* path);
// A failure on path that passes: a passing error, or access denied to a
// name that is being deleted (a read-only file is denied for good).
bool IsPassingFailureAt(const wchar_t* path, DWORD error);

struct RetryOutcome {
    bool done = false;    // the attempt succeeded
    DWORD error = 0;      // the last failure's error
    bool gaveUp = false;  // it was still failing as passing when time was up
    DWORD waitedMs = 0;
};

// Calls attempt (true on success, the error in GetLastError otherwise) until
// it succeeds, fails otherwise than isPassing says passes, or the call's
// limit or the budget is spent, pausing 10, 20, 40, 80, 160, 160... ms. The
// last error is left in GetLastError.
RetryOutcome RetryWhilePassing(const std::function<bool()>& attempt,
                               const std::function<bool(DWORD)>& isPassing = IsPassingFileError,
                               RetryBudget& budget = RunRetryBudget());

// Test seam: how the retries pause (Sleep by default; null restores it).
using RetryPause = void (*)(DWORD milliseconds);
void UseRetryPause(RetryPause pause);
