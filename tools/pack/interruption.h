#pragma once
// Ctrl-C, SIGTERM and (on Windows) closing the console window end a run
// cleanly: the handler only raises a flag, and the loops that read and write
// files check it and unwind, so that the partial package is removed.
void InstallInterruptionHandlers();
bool Interrupted();
