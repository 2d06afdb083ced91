#pragma once
// File calls retried while another program holds the file for a moment
// (common/file_retry.h), with one log line when the retries give up.
#include <functional>
#include <string>

// Calls attempt through RetryWhilePassing, taking as passing the sharing and
// lock violations and the answers for a name that is being deleted at
// subject. When it is still failing so once the time is spent, logs
// "Gave up trying to <action> <subject> after N ms of retries (error E)".
// True when attempt succeeded; the last error is left in GetLastError.
bool RetryLogged(const wchar_t* action, const std::wstring& subject,
                 const std::function<bool()>& attempt);
