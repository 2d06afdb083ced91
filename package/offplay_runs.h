#pragma once
// The runs below the OffPlay folder as the sweep sees them: rec_N (the work
// folder), rec_N.zip (the temporary archive) and rec_N.lock, the claim of a
// run in progress.
//
// A launcher claims its number by holding rec_N.lock open without sharing it;
// the file goes away when the handle is closed, at the latest when the process
// ends. Every launcher inspects and sweeps a number only while it holds that
// number's claim, so two launchers never choose the same number, and no
// launcher touches the folder or archive of a run that is still in progress.
// Once the client runs, its executable in use keeps the folder instead.
#include <string>

#include "common/unique_handle.h"
#include "package/payload_names.h"
#include "package/run_sweep.h"
#include "package/workspace_folders.h"

constexpr const wchar_t* kOffPlayFolder = L"OffPlay\\";
constexpr const wchar_t* kRunNamePrefix = L"rec_";
constexpr const wchar_t* kArchiveExtension = L".zip";
constexpr const wchar_t* kClaimExtension = L".lock";
constexpr const wchar_t* kRunClientPath = L"\\" VELMAR_PLAYBACK_CLIENT;
constexpr const wchar_t* kAlternativeClientPath = L"\\" VELMAR_ALTERNATIVE_CLIENT;

// namePrefix + decimal number + suffix, e.g. "...\OffPlay\rec_" 7 ".zip".
std::wstring RunPath(const std::wstring& namePrefix, int number, const wchar_t* suffix);

// Claims a number: opens its lock file exclusively and marks it for deletion
// on close. No handle when another launcher holds it, or when the lock file
// is not a plain file inside the temporary folder (a link is left alone).
UniqueFileHandle ClaimRunNumber(const std::wstring& namePrefix, int number,
                                const TempWorkspace& workspace = TempWorkspace());

class OffPlayRuns : public RunFolderOperations {
  public:
    // namePrefix: the temporary folder, "OffPlay\" and "rec_". offPlay: that
    // folder, held open after it was checked to be a plain folder in its
    // place; without it nothing is claimed or created. workspace: the
    // temporary folder as located for this run.
    OffPlayRuns(std::wstring namePrefix, UniqueFileHandle offPlay, TempWorkspace workspace);

    bool NameExists(int number) override;
    bool Claim(int number) override;
    void Release(int number) override;
    bool DeleteClients(int number) override;
    void RemoveRunFolder(int number) override;
    void DeleteArchive(int number) override;
    bool CreateArchive(int number) override;

    // Hand the claim and the open archive of number over to the caller.
    UniqueFileHandle TakeClaim(int number);
    UniqueFileHandle TakeArchive();

  private:
    TempWorkspace workspace_;
    std::wstring namePrefix_;
    UniqueFileHandle offPlay_;
    UniqueFileHandle claims_[kLastRunNumber + 1];
    UniqueFileHandle archive_;
};

// The claim of this process's run. Held until the process ends (the launcher
// ends right after starting its client); releasing it earlier would let
// other launchers sweep and reuse the number.
void HoldRunClaim(UniqueFileHandle claim);

// Test seam, not used by the launcher: tests make many runs in one process,
// and let go of each run's claim as the end of its process would.
namespace run_claim_seam {
bool Held();
void Release();
}  // namespace run_claim_seam
