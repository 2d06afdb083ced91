#include "package/run_sweep.h"

namespace {

// Clears away an earlier run's leftovers under a number this run holds. A
// folder from which a client still runs is kept.
void SweepNumber(RunFolderOperations& runs, int number) {
    if (runs.DeleteClients(number)) {
        runs.RemoveRunFolder(number);
    }
    runs.DeleteArchive(number);
}

// Under the claim of number: takes it when nothing exists under its name and
// its archive can be created. The claim stays only when it is taken.
bool TakeIfFree(RunFolderOperations& runs, int number) {
    if (!runs.NameExists(number) && runs.CreateArchive(number)) {
        return true;
    }
    runs.Release(number);
    return false;
}

}  // namespace

RunChoice ChooseRunNumber(RunFolderOperations& runs) {
    RunChoice choice;
    for (int number = kFirstRunNumber; number <= kLastRunNumber; ++number) {
        if (choice.found && !runs.NameExists(number)) {
            continue;  // nothing to sweep and nothing to choose
        }
        if (!runs.Claim(number)) {
            continue;  // another launcher's run is in progress under this number
        }
        // Looked at again under the claim: it may have appeared meanwhile.
        if (!runs.NameExists(number)) {
            if (!choice.found && TakeIfFree(runs, number)) {
                choice.number = number;
                choice.found = true;
            } else if (choice.found) {
                runs.Release(number);
            }
            continue;
        }
        SweepNumber(runs, number);
        runs.Release(number);
    }
    // No number was free before the sweep: the lowest one it cleared.
    for (int number = kFirstRunNumber; !choice.found && number <= kLastRunNumber; ++number) {
        if (runs.Claim(number) && TakeIfFree(runs, number)) {
            choice.number = number;
            choice.found = true;
        }
    }
    return choice;
}
