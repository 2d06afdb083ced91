#include "extract/archive_budget.h"

bool ArchiveBudget::TakeArchive() {
    if (archivesLeft_ == 0) {
        return false;
    }
    --archivesLeft_;
    return true;
}

bool ArchiveBudget::TakeEntries(uint32_t count) {
    if (entriesExhausted_ || count > entriesLeft_) {
        entriesExhausted_ = true;
        return false;
    }
    entriesLeft_ -= count;
    return true;
}

LogPermit ArchiveBudget::TakeLogLine() {
    if (logLinesLeft_ == 0) {
        return LogPermit::Silent;
    }
    --logLinesLeft_;
    return logLinesLeft_ == 0 ? LogPermit::WriteLast : LogPermit::Write;
}

namespace {
ArchiveBudget runBudget(kMaxArchivesPerRun, kMaxEntriesPerRun, kMaxExtractionLogLines);
}  // namespace

ArchiveBudget& RunBudget() {
    return runBudget;
}

void StartRunBudget() {
    runBudget = ArchiveBudget(kMaxArchivesPerRun, kMaxEntriesPerRun, kMaxExtractionLogLines);
}
