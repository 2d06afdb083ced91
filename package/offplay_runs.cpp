#include "package/offplay_runs.h"

#include <windows.h>

#include <utility>

#include "diagnostics/diagnostic_log.h"
#include "common/file_retry.h"
#include "common/process_state.h"
#include "package/workspace_folders.h"

namespace {

UniqueFileHandle heldClaim;

bool IsRunNumber(int number) {
    return number >= kFirstRunNumber && number <= kLastRunNumber;
}

}  // namespace

std::wstring RunPath(const std::wstring& namePrefix, int number, const wchar_t* suffix) {
    return namePrefix + std::to_wstring(number) + suffix;
}

UniqueFileHandle ClaimRunNumber(const std::wstring& namePrefix, int number,
                                const TempWorkspace& workspace) {
    std::wstring path = RunPath(namePrefix, number, kClaimExtension);
    if (path.size() >= kPathCapacity) {
        return UniqueFileHandle();
    }
    // Not shared at all: a second opener, in this process or another, fails.
    bool created = false;
    UniqueFileHandle claim =
        workspace.OpenFileInTemp(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, &created);
    if (claim && !DeleteThroughHandle(claim.get())) {
        claim.reset();
    }
    return claim;
}

OffPlayRuns::OffPlayRuns(std::wstring namePrefix, UniqueFileHandle offPlay, TempWorkspace workspace)
    : workspace_(std::move(workspace)),
      namePrefix_(std::move(namePrefix)),
      offPlay_(std::move(offPlay)) {}

bool OffPlayRuns::NameExists(int number) {
    // A name that is being deleted is not free yet: no work folder can be made under it.
    return IsNameTaken(RunPath(namePrefix_, number, L"").c_str());
}

bool OffPlayRuns::Claim(int number) {
    if (!IsRunNumber(number) || !offPlay_) {
        return false;
    }
    claims_[number] = ClaimRunNumber(namePrefix_, number, workspace_);
    return claims_[number].valid();
}

void OffPlayRuns::Release(int number) {
    if (IsRunNumber(number)) {
        claims_[number].reset();
    }
}

bool OffPlayRuns::DeleteClients(int number) {
    for (const wchar_t* client : {kRunClientPath, kAlternativeClientPath}) {
        std::wstring path = RunPath(namePrefix_, number, client);
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !workspace_.DeleteFileInTemp(path.c_str(), ReadOnlyEntries::Clear)) {
            return false;
        }
    }
    return true;
}

void OffPlayRuns::RemoveRunFolder(int number) {
    workspace_.RemoveFolderTree(RunPath(namePrefix_, number, L"").c_str(), ReadOnlyEntries::Clear);
}

void OffPlayRuns::DeleteArchive(int number) {
    workspace_.DeleteFileInTemp(RunPath(namePrefix_, number, kArchiveExtension).c_str());
}

bool OffPlayRuns::CreateArchive(int number) {
    std::wstring path = RunPath(namePrefix_, number, kArchiveExtension);
    bool created = false;
    archive_ = offPlay_ ? workspace_.OpenFileInTemp(path.c_str(), GENERIC_WRITE | DELETE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &created)
                        : UniqueFileHandle();
    FILE_END_OF_FILE_INFO empty = {};
    if (archive_ && !created &&
        !SetFileInformationByHandle(archive_.get(), FileEndOfFileInfo, &empty, sizeof(empty))) {
        archive_.reset();
    }
    if (!archive_) {
        LogMessage(LogHandle, L"Can't create zip file %s (error %d); trying another number\n",
                   path.c_str(), static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}

UniqueFileHandle OffPlayRuns::TakeClaim(int number) {
    return IsRunNumber(number) ? std::move(claims_[number]) : UniqueFileHandle();
}

UniqueFileHandle OffPlayRuns::TakeArchive() {
    return std::move(archive_);
}

void HoldRunClaim(UniqueFileHandle claim) {
    heldClaim = std::move(claim);
}

namespace run_claim_seam {

bool Held() {
    return heldClaim.valid();
}

void Release() {
    heldClaim.reset();
}

}  // namespace run_claim_seam
