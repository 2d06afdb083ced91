#include "common/file_retry.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "test_support/retry_pauses.h"

namespace {

// An attempt that fails with each error in turn (0: succeeds).
std::function<bool()> Failing(std::vector<DWORD> errors) {
    auto next = std::make_shared<size_t>(0);
    return [errors, next]() {
        DWORD error = *next < errors.size() ? errors[(*next)++] : errors.back();
        SetLastError(error);
        return error == 0;
    };
}

}  // namespace

TEST(FileRetry, PassingFailuresAreRetriedWithGrowingPausesWithinTheLimits) {
    constexpr DWORD busy = ERROR_SHARING_VIOLATION;
    struct Row {
        const char* what;
        std::vector<DWORD> errors;
        DWORD budget;
        bool done;
        bool gaveUp;
        std::vector<DWORD> pauses;
    };
    const Row rows[] = {
        {"at once", {0}, 1000, true, false, {}},
        {"after two", {busy, ERROR_LOCK_VIOLATION, 0}, 1000, true, false, {10, 20}},
        {"delete pending", {ERROR_DELETE_PENDING, 0}, 1000, true, false, {10}},
        {"lasting failure", {ERROR_ACCESS_DENIED}, 1000, false, false, {}},
        {"call limit", {busy}, 1000, false, true, {10, 20, 40, 80, 160, 160, 30}},
        {"run budget", {busy}, 100, false, true, {10, 20, 40, 30}},
        {"budget spent", {busy}, 0, false, true, {}},
    };
    for (const Row& row : rows) {
        RecordedPauses pauses;
        RetryBudget budget(row.budget);
        RetryOutcome outcome = RetryWhilePassing(Failing(row.errors), IsPassingFileError, budget);
        EXPECT_EQ(outcome.done, row.done) << row.what;
        EXPECT_EQ(outcome.gaveUp, row.gaveUp) << row.what;
        EXPECT_EQ(pauses.pauses(), row.pauses) << row.what;
        EXPECT_EQ(outcome.waitedMs, pauses.total()) << row.what;
        if (!row.done) {
            EXPECT_EQ(GetLastError(), row.errors.back()) << row.what;
        }
    }
}

TEST(FileRetry, BudgetIsSharedByThreadsWithoutOvercommitting) {
    RetryBudget budget(1000);
    std::vector<std::thread> threads;
    std::vector<DWORD> granted(4, 0);
    for (size_t i = 0; i < granted.size(); ++i) {
        threads.emplace_back([&budget, &granted, i]() {
            for (int n = 0; n < 400; ++n) {
                granted[i] += budget.Take(1);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(granted[0] + granted[1] + granted[2] + granted[3], 1000u);
    EXPECT_EQ(budget.Left(), 0u);
}

TEST(NamePresence, ANameBeingDeletedIsNeverFree) {
    EXPECT_EQ(PresenceFromAnswer(FILE_ATTRIBUTE_DIRECTORY, 0), NamePresence::Present);
    EXPECT_EQ(PresenceFromAnswer(INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED),
              NamePresence::BeingDeleted);
    EXPECT_EQ(PresenceFromAnswer(INVALID_FILE_ATTRIBUTES, ERROR_DELETE_PENDING),
              NamePresence::BeingDeleted);
    EXPECT_EQ(PresenceFromAnswer(INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND),
              NamePresence::Absent);
    EXPECT_EQ(PresenceFromAnswer(INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND),
              NamePresence::Absent);
}
