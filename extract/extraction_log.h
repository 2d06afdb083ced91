#pragma once
// Log lines of the extraction, within the run's share of lines (see
// archive_budget.h): past it, one line says so and the rest are left out.
#include "extract/archive_budget.h"
#include "diagnostics/diagnostic_log.h"

template <typename... Args>
void LogExtraction(const wchar_t* format, Args... args) {
    LogPermit permit = RunBudget().TakeLogLine();
    if (permit == LogPermit::Silent) {
        return;
    }
    LogMessage(LogHandle, format, args...);
    if (permit == LogPermit::WriteLast) {
        LogMessage(LogHandle,
                   L"Further extraction messages of this run are left out of the log "
                   L"(%d written)\n",
                   static_cast<int>(kMaxExtractionLogLines));
    }
}
