#pragma once
// How much one run may extract and log. Nested archives, archives that name
// themselves and directories that declare far more entries than they hold
// could otherwise make one launch work and log without end: the run walks at
// most so many archives and entries, and writes at most so many extraction
// lines to the log (the log is rotated only when a launch starts).
#include <cstdint>

#include "extract/entry_rules.h"

constexpr uint32_t kMaxExtractionLogLines = 2000;

enum class LogPermit {
    Write,      // write the line
    WriteLast,  // write it, then say that further lines are left out
    Silent,     // the run has used its lines
};

class ArchiveBudget {
  public:
    ArchiveBudget(uint32_t archives, uint32_t entries, uint32_t logLines)
        : archivesLeft_(archives), entriesLeft_(entries), logLinesLeft_(logLines) {}

    // One more archive to walk; false once the run has walked its share.
    bool TakeArchive();
    // count more entries (zip entries, cabinet members); false, taking none,
    // when they would pass the run's share. Once refused, every later call is.
    bool TakeEntries(uint32_t count);
    bool EntriesExhausted() const { return entriesExhausted_; }
    LogPermit TakeLogLine();

  private:
    uint32_t archivesLeft_;
    uint32_t entriesLeft_;
    uint32_t logLinesLeft_;
    bool entriesExhausted_ = false;
};

// The budget of the extraction under way; StartRunBudget gives it its full
// share when the payload's extraction starts.
ArchiveBudget& RunBudget();
void StartRunBudget();
