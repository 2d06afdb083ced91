#include "launcher/run_failure_report.h"

#include <windows.h>

#include "diagnostics/diagnostic_log.h"
#include "diagnostics/problem_report.h"
#include "launcher/client_process.h"
#include "common/wide_format.h"

namespace {

struct CauseText {
    RunFailure cause;
    int problemNumber;
    const wchar_t* words;  // for the log
};
constexpr CauseText kCauseTexts[] = {
    {RunFailure::DamagedPackage, 202, L"damaged package"},
    {RunFailure::DiskFull, 203, L"not enough free space"},
    {RunFailure::PolicyBlocked, 204, L"blocked by a policy of this computer"},
    {RunFailure::AntivirusBlocked, 205, L"blocked or removed by antivirus"},
    {RunFailure::ClientFailed, 206, L"the client could not start or ended at once"},
    {RunFailure::PathTooLong, 207, L"path too long"},
};

const CauseText& CauseTextOf(RunFailure cause) {
    for (const CauseText& text : kCauseTexts) {
        if (text.cause == cause) {
            return text;
        }
    }
    return kCauseTexts[0];
}

// A status (a client's exit) in hex as the platform documents it, an error in decimal.
std::wstring SystemCodeText(unsigned long code) {
    return IsFailureStatus(code) ? FormatWideString(L"status 0x%08lX", code)
                                 : FormatWideString(L"system error %lu", code);
}

unsigned long long FreeSpaceOf(const std::wstring& volume) {
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExW(volume.c_str(), &available, nullptr, nullptr) ? available.QuadPart
                                                                             : 0;
}

// The box of the cause, with its inserts in the order its text takes them.
void ShowFailureBox(const RunFailureRecord& failure, int problemNumber,
                    const std::wstring& packagePath, unsigned long long spaceNeeded) {
    const wchar_t* subject = failure.subject.c_str();
    switch (failure.cause) {
        case RunFailure::DamagedPackage:
            ReportProblem(problemNumber, packagePath.c_str());
            break;
        case RunFailure::DiskFull:
            ReportProblem(problemNumber, subject, SizeText(spaceNeeded).c_str(),
                          SizeText(FreeSpaceOf(failure.subject)).c_str());
            break;
        case RunFailure::ClientFailed:
            ReportProblem(problemNumber, subject, ClientFailureReason(failure.systemError).c_str());
            break;
        default:
            ReportProblem(problemNumber, subject);
            break;
    }
}

}  // namespace

int ProblemNumberOf(RunFailure cause) {
    return CauseTextOf(cause).problemNumber;
}

void ReportRunFailure(const std::wstring& packagePath, unsigned long long spaceNeeded) {
    RunFailureRecord failure = FirstRunFailure();
    if (failure.cause == RunFailure::None) {
        failure.cause = RunFailure::DamagedPackage;
        failure.subject = packagePath;
    }
    const CauseText& text = CauseTextOf(failure.cause);
    LogMessage(LogHandle, L"Run failed: %s: %s (%s); showing problem %d\n", text.words,
               failure.subject.c_str(), SystemCodeText(failure.systemError).c_str(),
               text.problemNumber);
    ShowFailureBox(failure, text.problemNumber, packagePath, spaceNeeded);
}

std::wstring SizeText(unsigned long long bytes) {
    constexpr unsigned long long kKilo = 1024;
    constexpr double kMega = 1024.0 * 1024.0;
    if (bytes < kKilo * kKilo) {
        return std::to_wstring((bytes + kKilo - 1) / kKilo) + L" KB";
    }
    double megabytes = static_cast<double>(bytes) / kMega;
    return megabytes < 1024.0 ? FormatWideString(L"%.1f MB", megabytes)
                              : FormatWideString(L"%.1f GB", megabytes / 1024.0);
}
