#include "common/run_failure.h"

#include <windows.h>

namespace {

RunFailureRecord firstFailure;

// Codes that older SDK headers lack.
constexpr unsigned long kVirusInfected = 225;      // ERROR_VIRUS_INFECTED
constexpr unsigned long kVirusDeleted = 226;       // ERROR_VIRUS_DELETED
constexpr unsigned long kNoSaferUiByPolicy = 786;  // ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY
constexpr unsigned long kIntegrityPolicyViolation =
    4551;  // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION

}  // namespace

void NoteRunFailure(RunFailure cause, unsigned long systemError, const std::wstring& subject) {
    if (firstFailure.cause != RunFailure::None || cause == RunFailure::None) {
        return;
    }
    firstFailure.cause = cause;
    firstFailure.systemError = systemError;
    firstFailure.subject = subject;
}

const RunFailureRecord& FirstRunFailure() {
    return firstFailure;
}

void ClearRunFailures() {
    firstFailure = RunFailureRecord();
}

RunFailure RunFailureFromSystemError(unsigned long systemError, RunFailure otherwise) {
    switch (systemError) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return RunFailure::DiskFull;
        case kVirusInfected:
        case kVirusDeleted:
            return RunFailure::AntivirusBlocked;
        case ERROR_ACCESS_DISABLED_BY_POLICY:
        case kNoSaferUiByPolicy:
        case kIntegrityPolicyViolation:
            return RunFailure::PolicyBlocked;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW:
            return RunFailure::PathTooLong;
        default:
            return otherwise;
    }
}
