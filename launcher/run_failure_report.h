#pragma once
// Telling the user why a run failed: the first cause the run noted
// (common/run_failure.h) becomes its problem box, after one log line.
#include <string>

#include "common/run_failure.h"

// The problem number of a cause: 202 (damaged package) to 207 (path too long).
int ProblemNumberOf(RunFailure cause);

// Logs "Run failed: CAUSE: SUBJECT (system error N); showing problem P" and
// shows the box of the first cause noted, a damaged package when none was.
// packagePath is the running package; spaceNeeded what a full disk lacked room
// for (the free space is measured now, after the run removed its files).
void ReportRunFailure(const std::wstring& packagePath, unsigned long long spaceNeeded);

// A size as the box shows it: "640 KB", "4.0 MB", "1.5 GB" (binary units).
std::wstring SizeText(unsigned long long bytes);
