#include "package/offplay_runs.h"

#include <windows.h>

#include <utility>

#include "launcher/process_state.h"
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

UniqueFileHandle ClaimRunNumber(const std::wstring& namePrefix, int number) {
    std::wstring path = RunPath(namePrefix, number, kClaimExtension);
    if (path.size() >= kPathCapacity) {
        return UniqueFileHandle();
    }
    // Not shared at all: a second opener, in this process or another, fails.
    UniqueFileHandle claim(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!claim) {
        return claim;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!IsHandleInTemp(claim.get(), path.c_str()) ||
        !SetFileInformationByHandle(claim.get(), FileDispositionInfo, &disposition,
                                    sizeof(disposition))) {
        claim.reset();
    }
    return claim;
}

OffPlayRuns::OffPlayRuns(std::wstring namePrefix) : namePrefix_(std::move(namePrefix)) {}

bool OffPlayRuns::NameExists(int number) {
    return GetFileAttributesW(RunPath(namePrefix_, number, L"").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OffPlayRuns::Claim(int number) {
    if (!IsRunNumber(number)) {
        return false;
    }
    claims_[number] = ClaimRunNumber(namePrefix_, number);
    return claims_[number].valid();
}

void OffPlayRuns::Release(int number) {
    if (IsRunNumber(number)) {
        claims_[number].reset();
    }
}

bool OffPlayRuns::DeleteClient(int number) {
    return DeleteFileInTemp(RunPath(namePrefix_, number, kRunClientPath).c_str());
}

void OffPlayRuns::RemoveRunFolder(int number) {
    RemoveFolderTree(RunPath(namePrefix_, number, L"").c_str());
}

void OffPlayRuns::DeleteArchive(int number) {
    DeleteFileInTemp(RunPath(namePrefix_, number, kArchiveExtension).c_str());
}

UniqueFileHandle OffPlayRuns::TakeClaim(int number) {
    return IsRunNumber(number) ? std::move(claims_[number]) : UniqueFileHandle();
}

void HoldRunClaim(UniqueFileHandle claim) {
    heldClaim = std::move(claim);
}

bool HoldsRunClaim() {
    return heldClaim.valid();
}

void ReleaseRunClaim() {
    heldClaim.reset();
}
