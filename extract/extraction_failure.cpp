#include "extract/extraction_failure.h"

#include <windows.h>

#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/system_paths.h"

namespace {

unsigned long long declaredSpace = 0;

}  // namespace

void NoteEntryWriteFailure(unsigned long systemError, const std::wstring& path) {
    RunFailure cause = RunFailureFromSystemError(systemError, RunFailure::DamagedPackage);
    NoteRunFailure(cause, systemError, cause == RunFailure::DiskFull ? VolumeOf(WorkFolder) : path);
}

void NoteSpaceShortfall() {
    NoteRunFailure(RunFailure::DiskFull, ERROR_DISK_FULL, VolumeOf(WorkFolder));
}

void AddDeclaredSpace(unsigned long long bytes) {
    declaredSpace += bytes;
}

unsigned long long DeclaredSpaceOfRun() {
    return declaredSpace;
}

void ClearDeclaredSpace() {
    declaredSpace = 0;
}
