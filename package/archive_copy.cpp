#include "package/archive_copy.h"

#include <cwchar>
#include <string>
#include <utility>

#include "diagnostics/diagnostic_log.h"
#include "diagnostics/logged_retry.h"
#include "common/process_state.h"
#include "common/system_paths.h"
#include "common/unique_handle.h"
#include "package/offplay_runs.h"
#include "package/package_probe.h"
#include "package/run_sweep.h"
#include "package/workspace_folders.h"

namespace {

// Committed read-write pages for the transfer buffer (kCopyOutBlockSize
// bytes), released on every return.
class TransferBuffer {
  public:
    TransferBuffer()
        : bytes_(static_cast<unsigned char*>(VirtualAlloc(
              nullptr, kCopyOutBlockSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
    ~TransferBuffer() {
        if (bytes_ != nullptr) {
            VirtualFree(bytes_, 0, MEM_RELEASE);
        }
    }
    TransferBuffer(const TransferBuffer&) = delete;
    TransferBuffer& operator=(const TransferBuffer&) = delete;
    unsigned char* get() const { return bytes_; }

  private:
    unsigned char* bytes_;
};

class FileStreams : public ArchiveCopyStreams {
  public:
    FileStreams(HANDLE source, HANDLE target) : source_(source), target_(target) {}
    bool Read(unsigned char* buffer, DWORD size, DWORD* got) override {
        return ReadFile(source_, buffer, size, got, nullptr) != 0;
    }
    bool Write(const unsigned char* buffer, DWORD size, DWORD* written) override {
        return WriteFile(target_, buffer, size, written, nullptr) != 0;
    }

  private:
    HANDLE source_;
    HANDLE target_;
};

// Copies text into a 260-character path buffer; false when it does not fit.
bool StorePath(wchar_t* path, const std::wstring& text) {
    if (text.size() >= kPathCapacity) {
        path[0] = L'\0';
        return false;
    }
    std::wmemcpy(path, text.c_str(), text.size() + 1);
    return true;
}

// The temporary archive once copied, pinned by a handle that neither reads,
// writes nor deletes, so that the extraction may open it by name.
UniqueFileHandle heldArchive;
std::wstring heldArchivePath;  // its name, for the log

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

CopyOutcome CopyArchiveBytes(ArchiveCopyStreams& streams, uint32_t archiveLength,
                             unsigned char* buffer, DWORD chunkSize) {
    uint32_t total = 0;
    while (total < archiveLength) {
        DWORD wanted = archiveLength - total < chunkSize ? archiveLength - total : chunkSize;
        DWORD got = 0;
        if (!streams.Read(buffer, wanted, &got)) {
            return CopyOutcome::ReadFailed;
        }
        if (got == 0 || got > wanted) {
            return CopyOutcome::SourceEnded;
        }
        total += got;
        DWORD written = 0;
        if (!streams.Write(buffer, got, &written) || written != got) {
            return CopyOutcome::WriteFailed;
        }
    }
    return CopyOutcome::Complete;
}

namespace {

// The folders and names of this run's temporary archive below the temporary
// folder.
struct ArchivePlaces {
    std::wstring temp;        // the temporary folder, empty when there is none
    std::wstring offPlay;     // <temp>\OffPlay\ (trailing backslash)
    std::wstring namePrefix;  // <temp>\OffPlay\rec_
};

// OffPlay created if missing and held open, so that it stays a plain folder
// in its place while the run number is chosen; empty when there is no such
// folder or any name of any number would not fit a path buffer.
UniqueFileHandle OpenOffPlayFolder(const ArchivePlaces& places, const TempWorkspace& workspace) {
    // Without a temporary folder nothing may be written anywhere else.
    if (places.temp.empty() ||
        RunPath(places.namePrefix, kLastRunNumber, kRunClientPath).size() >= kPathCapacity) {
        LogMessage(LogHandle, L"Can't create zip file %s\n",
                   RunPath(places.namePrefix, kFirstRunNumber, kArchiveExtension).c_str());
        return UniqueFileHandle();
    }
    wchar_t folder[kPathCapacity] = {};
    StorePath(folder, places.offPlay);
    CreateFolderPath(folder);
    UniqueFileHandle offPlayFolder = workspace.HoldFolderInTemp(places.offPlay.c_str());
    if (!offPlayFolder) {
        LogMessage(LogHandle, L"Refusing the folder %s: it is not a plain folder in its place\n",
                   places.offPlay.c_str());
    }
    return offPlayFolder;
}

// Chooses this run's number, keeps its claim for the life of the process and
// returns the created archive open for writing, its path in path.
UniqueFileHandle ClaimRunArchive(const ArchivePlaces& places, UniqueFileHandle offPlayFolder,
                                 TempWorkspace workspace, wchar_t* path) {
    OffPlayRuns runs(places.namePrefix, std::move(offPlayFolder), std::move(workspace));
    RunChoice choice = ChooseRunNumber(runs);
    if (!choice.found) {
        LogMessage(LogHandle,
                   L"No number for the temporary archive: every one from %d to %d is in use "
                   L"or its archive cannot be created\n",
                   kFirstRunNumber, kLastRunNumber);
        return UniqueFileHandle();
    }
    HoldRunClaim(runs.TakeClaim(choice.number));
    UniqueFileHandle output = runs.TakeArchive();
    StorePath(path, RunPath(places.namePrefix, choice.number, kArchiveExtension));
    LogMessage(LogHandle, L"GetZipFrom Exe Generated filename =%s\n", path);
    return output;
}

// The embedded archive's length, with the executable positioned at its first
// byte; 0 when it cannot be found (the temporary archive is then taken back
// when the executable's size cannot even be read).
uint32_t PositionAtArchive(HANDLE executable, HANDLE output) {
    DWORD size = GetFileSize(executable, nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        LogMessage(LogHandle, L"Can't get size of exe file\n");
        DeleteThroughHandle(output);  // nothing of this run is left
        return 0;
    }
    LogMessage(LogHandle, L"ExeFileSize =%d\n", static_cast<int>(size));
    uint32_t archiveEnd = PackageSource.archiveEnd > 0 ? PackageSource.archiveEnd : size;
    int64_t archiveLength = static_cast<int64_t>(archiveEnd) - PackageSource.archiveOffset;
    if (PackageSource.archiveOffset <= 0 || archiveLength <= 0 ||
        SetFilePointer(executable, PackageSource.archiveOffset, nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
        LogMessage(LogHandle, L"Could not get file info. This archive is likely corrupted.\n");
        return 0;
    }
    return static_cast<uint32_t>(archiveLength);
}

// Copies archiveLength bytes from the executable's position into output.
// 1 when all were copied, 0 otherwise.
int CopyOutArchive(HANDLE executable, HANDLE output, uint32_t archiveLength, const wchar_t* path) {
    TransferBuffer buffer;
    if (buffer.get() == nullptr) {
        LogMessage(LogHandle, L"Can't allocate the copy buffer (error %lu)\n", GetLastError());
        return 0;
    }
    LogMessage(LogHandle, L"Created zip file %s\n", path);
    FileStreams streams(executable, output);
    switch (CopyArchiveBytes(streams, archiveLength, buffer.get(), kCopyOutBlockSize)) {
        case CopyOutcome::Complete:
            return 1;
        case CopyOutcome::ReadFailed:
        case CopyOutcome::SourceEnded:
            LogMessage(LogHandle, L"Could not get file info. This archive is likely corrupted.\n");
            return 0;
        case CopyOutcome::WriteFailed:
            LogMessage(LogHandle, L"Could not extract the current file.\n");
            return 0;
    }
    return 0;
}

}  // namespace

int GetZipFromExe(wchar_t* path) {
    if (path == nullptr) {
        return 0;
    }
    path[0] = L'\0';
    std::wstring temp = TemporaryFolderPath();
    ArchivePlaces places{temp, temp + kOffPlayFolder, temp + kOffPlayFolder + kRunNamePrefix};
    // Located once for the whole copy-out: the OffPlay check and the sweep.
    TempWorkspace workspace;
    UniqueFileHandle offPlayFolder = OpenOffPlayFolder(places, workspace);
    if (!offPlayFolder) {
        return 0;
    }
    UniqueFileHandle output =
        ClaimRunArchive(places, std::move(offPlayFolder), std::move(workspace), path);
    if (path[0] == L'\0') {  // no number could be claimed
        return 0;
    }
    HANDLE executable = PackageSource.executable;
    uint32_t archiveLength = PositionAtArchive(executable, output.get());
    if (archiveLength == 0 || CopyOutArchive(executable, output.get(), archiveLength, path) == 0) {
        return 0;
    }
    // Pinned by a handle reopened from the writing one: the archive that is
    // deleted later is this file, whatever its name then leads to.
    heldArchive.reset(ReOpenFile(output.get(), FILE_READ_ATTRIBUTES, kShareAll, 0));
    heldArchivePath = path;
    return 1;
}

bool DeleteTemporaryArchive() {
    if (!heldArchive) {
        return false;
    }
    // A scanner may hold the archive for a moment without sharing its deletion.
    bool deleted = RetryLogged(L"delete", heldArchivePath, []() {
        UniqueFileHandle deleter(ReOpenFile(heldArchive.get(), DELETE, kShareAll, 0));
        return deleter && DeleteThroughHandle(deleter.get());
    });
    heldArchive.reset();
    return deleted;
}
