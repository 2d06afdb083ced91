#include "diagnostics/logged_retry.h"

#include <windows.h>

#include "common/file_retry.h"
#include "diagnostics/diagnostic_log.h"

bool RetryLogged(const wchar_t* action, const std::wstring& subject,
                 const std::function<bool()>& attempt) {
    RetryOutcome outcome = RetryWhilePassing(
        attempt, [&subject](DWORD error) { return IsPassingFailureAt(subject.c_str(), error); });
    if (outcome.gaveUp) {
        LogMessage(LogHandle, L"Gave up trying to %s %s after %d ms of retries (error %d)\n",
                   action, subject.c_str(), static_cast<int>(outcome.waitedMs),
                   static_cast<int>(outcome.error));
    }
    SetLastError(outcome.error);
    return outcome.done;
}
