#include "package/run_sweep.h"

namespace {

// Clears away an earlier run's leftovers under a number this run holds. A
// folder whose client cannot be deleted (it is running) is kept.
void SweepNumber(RunFolderOperations& runs, int number) {
    if (runs.DeleteClient(number)) {
        runs.RemoveRunFolder(number);
    }
    runs.DeleteArchive(number);
}

}  // namespace

RunChoice ChooseRunNumber(RunFolderOperations& runs) {
    RunChoice choice;
    int chosen = 0;
    for (int number = kFirstRunNumber; number <= kLastRunNumber; ++number) {
        if (chosen != 0 && !runs.NameExists(number)) {
            continue;  // nothing to sweep and nothing to choose
        }
        if (!runs.Claim(number)) {
            continue;  // another launcher's run is in progress under this number
        }
        // Looked at again under the claim: it may have appeared meanwhile.
        if (!runs.NameExists(number)) {
            if (chosen == 0) {
                chosen = number;
                continue;  // the claim stays
            }
            runs.Release(number);
            continue;
        }
        SweepNumber(runs, number);
        runs.Release(number);
    }
    if (chosen != 0) {
        choice.number = chosen;
        choice.claimed = true;
        return choice;
    }
    // Every number was taken: reuse the lowest one that no run in progress holds.
    for (int number = kFirstRunNumber; number <= kLastRunNumber; ++number) {
        if (runs.Claim(number)) {
            choice.number = number;
            choice.claimed = true;
            return choice;
        }
    }
    return choice;
}
