#pragma once
// Choosing the number N of a run's OffPlay\rec_N.zip and rec_N, and sweeping
// away what earlier runs left behind. The decisions live here, apart from the
// file system, which is reached through RunFolderOperations.

constexpr int kFirstRunNumber = 1;
constexpr int kLastRunNumber = 99;

// What the sweep does to the names of one number N below the OffPlay folder.
class RunFolderOperations {
  public:
    virtual ~RunFolderOperations() = default;
    // Something (normally the work folder) exists under rec_N.
    virtual bool NameExists(int number) = 0;
    // Claims N for this run. False while another launcher holds it: its run is
    // in progress, and nothing of N may be touched or reused.
    virtual bool Claim(int number) = 0;
    virtual void Release(int number) = 0;
    // Deletes the clients a run may have started from rec_N (bin\velmar.exe,
    // then bin\launcher.exe). True when none is left; false when one cannot
    // be deleted: a client still runs from it.
    virtual bool DeleteClients(int number) = 0;
    // Removes rec_N whole, read-only entries included, never through a link.
    virtual void RemoveRunFolder(int number) = 0;
    // Deletes rec_N.zip; failures are ignored.
    virtual void DeleteArchive(int number) = 0;
    // Creates rec_N.zip for this run, or replaces a plain file left there.
    // False when that cannot be done (a folder or a link under the name, a
    // file held open by another program).
    virtual bool CreateArchive(int number) = 0;
};

struct RunChoice {
    int number = 0;
    // False when no number could be taken: every one is held by a run in
    // progress or a running client, or its archive cannot be created.
    bool found = false;
};

// Sweeps numbers 1 to 99 in order and chooses the first one under which
// nothing existed and whose archive could be created. Every number is
// inspected under its claim; a number held by another run is skipped
// entirely. A finished run (not claimed, no client running) is removed whole.
// When no number was free before the sweep, the lowest number that the sweep
// cleared is taken. The claim of the chosen number is kept (the caller takes
// it over, with the archive), every other claim is released.
RunChoice ChooseRunNumber(RunFolderOperations& runs);
