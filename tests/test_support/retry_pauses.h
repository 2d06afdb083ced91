#pragma once
// Test support: the pauses of the file retries (common/file_retry.h) recorded
// instead of slept, with the run's budget full again, and an action at the
// first pause (letting go of a file the test holds, say).
#include <windows.h>

#include <functional>
#include <vector>

#include "common/file_retry.h"

class RecordedPauses {
  public:
    explicit RecordedPauses(std::function<void()> atFirstPause = nullptr)
        : atFirstPause_(std::move(atFirstPause)) {
        current_ = this;
        UseRetryPause(&RecordedPauses::Record);
        RunRetryBudget().Reset(kRunRetryBudgetMs);
    }
    ~RecordedPauses() {
        UseRetryPause(&RecordedPauses::Ignore);
        RunRetryBudget().Reset(kRunRetryBudgetMs);
        current_ = nullptr;
    }
    RecordedPauses(const RecordedPauses&) = delete;
    RecordedPauses& operator=(const RecordedPauses&) = delete;

    const std::vector<DWORD>& pauses() const { return pauses_; }
    DWORD total() const {
        DWORD sum = 0;
        for (DWORD pause : pauses_) {
            sum += pause;
        }
        return sum;
    }
    // Unit tests never sleep for a retry, whether they look at it or not.
    static void Ignore(DWORD) {}

  private:
    static void Record(DWORD milliseconds) {
        RecordedPauses* self = current_;
        self->pauses_.push_back(milliseconds);
        if (self->pauses_.size() == 1 && self->atFirstPause_) {
            self->atFirstPause_();
        }
    }

    inline static RecordedPauses* current_ = nullptr;
    std::function<void()> atFirstPause_;
    std::vector<DWORD> pauses_;
};
