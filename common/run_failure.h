#pragma once
// Why a run could not do its job, as the step that met the failure knows it.
// The first failure a run notes is the one its user is told about: later ones
// are mostly consequences of it (a missing folder after a full disk, say).
#include <string>

enum class RunFailure {
    None,
    DamagedPackage,    // cut short, flipped bytes, a method or password it cannot read
    DiskFull,          // not enough free space on the drive of the work folder
    PolicyBlocked,     // the client is refused by a policy of this computer
    AntivirusBlocked,  // a file is refused or removed by antivirus
    ClientFailed,      // the client could not be started or ended at once
    PathTooLong,       // a path is longer than this computer allows
};

struct RunFailureRecord {
    RunFailure cause = RunFailure::None;
    unsigned long systemError = 0;  // the system's error code or status, 0 when none
    std::wstring subject;           // the file, folder or drive concerned
};

// Notes a failure of this run; only the first one is kept.
void NoteRunFailure(RunFailure cause, unsigned long systemError, const std::wstring& subject);
// The first failure noted in this run, or a record with RunFailure::None.
const RunFailureRecord& FirstRunFailure();
// Forgets every failure noted (for tests, which run many sequences in one process).
void ClearRunFailures();

// The cause that a system error code names by itself (full disk, antivirus,
// policy, path too long), or otherwise when the code names none of these.
RunFailure RunFailureFromSystemError(unsigned long systemError, RunFailure otherwise);
