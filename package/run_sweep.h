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
    // Deletes rec_N\bin\velmar.exe; false when it is missing or in use.
    virtual bool DeleteClient(int number) = 0;
    virtual void RemoveRunFolder(int number) = 0;
    // Deletes rec_N.zip; failures are ignored.
    virtual void DeleteArchive(int number) = 0;
};

struct RunChoice {
    int number = kFirstRunNumber;
    // False only when every number is held by other runs in progress: the
    // number may then not be written to.
    bool claimed = false;
};

// Sweeps numbers 1 to 99 in order and chooses the first one under which
// nothing existed. Every number is inspected under its claim; a number held by
// another run is skipped entirely. The claim of the chosen number is kept (the
// caller takes it over), every other claim is released. When no number was
// free, the lowest number that can be claimed is used, normally 1.
RunChoice ChooseRunNumber(RunFolderOperations& runs);
