// Linked into every unit test program: a retry of a file call never sleeps
// there (tests that look at the pauses use RecordedPauses).
#include "test_support/retry_pauses.h"

namespace {

const bool kRetriesDoNotSleep = (UseRetryPause(&RecordedPauses::Ignore), true);

}  // namespace
