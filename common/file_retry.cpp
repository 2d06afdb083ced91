#include "common/file_retry.h"

namespace {

void PlatformPause(DWORD milliseconds) {
    Sleep(milliseconds);
}

RetryPause pause = PlatformPause;

}  // namespace

DWORD RetryBudget::Take(DWORD wanted) {
    DWORD left = left_.load();
    DWORD granted = 0;
    do {
        granted = wanted < left ? wanted : left;
    } while (granted > 0 && !left_.compare_exchange_weak(left, left - granted));
    return granted;
}

RetryBudget& RunRetryBudget() {
    static RetryBudget budget(kRunRetryBudgetMs);
    return budget;
}

bool IsPassingFileError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_DELETE_PENDING;
}

NamePresence PresenceFromAnswer(DWORD attributes, DWORD error) {
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return NamePresence::Present;
    }
    if (error == ERROR_ACCESS_DENIED || error == ERROR_DELETE_PENDING) {
        return NamePresence::BeingDeleted;
    }
    return NamePresence::Absent;
}

NamePresence NamePresenceOf(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return PresenceFromAnswer(attributes,
                              attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0);
}

bool IsNameTaken(const wchar_t* path) {
    return NamePresenceOf(path) != NamePresence::Absent;
}

bool IsPassingFailureAt(const wchar_t* path, DWORD error) {
    if (IsPassingFileError(error)) {
        return true;
    }
    return error == ERROR_ACCESS_DENIED && NamePresenceOf(path) == NamePresence::BeingDeleted;
}

RetryOutcome RetryWhilePassing(const std::function<bool()>& attempt,
                               const std::function<bool(DWORD)>& isPassing, RetryBudget& budget) {
    RetryOutcome outcome;
    DWORD next = kFirstRetryPauseMs;
    for (;;) {
        if (attempt()) {
            outcome.done = true;
            return outcome;
        }
        outcome.error = GetLastError();
        if (!isPassing(outcome.error)) {
            break;
        }
        DWORD wanted = kCallRetryLimitMs - outcome.waitedMs;
        DWORD granted = budget.Take(next < wanted ? next : wanted);
        if (granted == 0) {
            outcome.gaveUp = true;
            break;
        }
        pause(granted);
        outcome.waitedMs += granted;
        next = next * 2 < kLongestRetryPauseMs ? next * 2 : kLongestRetryPauseMs;
    }
    SetLastError(outcome.error);
    return outcome;
}

void UseRetryPause(RetryPause replacement) {
    pause = replacement != nullptr ? replacement : PlatformPause;
}
