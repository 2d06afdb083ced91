#include "package/archive_copy.h"

#include <cwchar>
#include <string>
#include <utility>

#include "launcher/diagnostic_log.h"
#include "launcher/process_state.h"
#include "launcher/system_paths.h"
#include "launcher/unique_handle.h"
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

// An archive name may be written through only when whatever stands there
// already is a plain file in its place, not a link that leads elsewhere.
bool MayReplace(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    UniqueFileHandle existing(CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !existing || IsHandleInTemp(existing.get(), path);
}

// Copies text into a 260-character path buffer; false when it does not fit.
bool StorePath(wchar_t* path, const std::wstring& text) {
    if (text.size() >= kPathCapacity) {
        path[0] = L'\0';
        return false;
    }
    std::wmemcpy(path, text.c_str(), text.size() + 1);
    return true;
}

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

int GetZipFromExe(wchar_t* path) {
    if (path == nullptr) {
        return 0;
    }
    path[0] = L'\0';

    std::wstring temp = TemporaryFolderPath();
    std::wstring offPlay = temp + kOffPlayFolder;
    std::wstring namePrefix = offPlay + kRunNamePrefix;
    // Every name of every number must fit a path buffer; without a temporary
    // folder nothing may be written anywhere else.
    if (temp.empty() ||
        RunPath(namePrefix, kLastRunNumber, kRunClientPath).size() >= kPathCapacity) {
        LogMessage(LogHandle, L"Can't create zip file %s\n",
                   RunPath(namePrefix, kFirstRunNumber, kArchiveExtension).c_str());
        return 0;
    }
    wchar_t folder[kPathCapacity] = {};
    StorePath(folder, offPlay);
    CreateFolderPath(folder);

    OffPlayRuns runs(namePrefix);
    RunChoice choice = ChooseRunNumber(runs);
    if (choice.claimed) {
        HoldRunClaim(runs.TakeClaim(choice.number));
    }
    StorePath(path, RunPath(namePrefix, choice.number, kArchiveExtension));
    LogMessage(LogHandle, L"GetZipFrom Exe Generated filename =%s\n", path);

    HANDLE executable = PackageSource.executable;
    DWORD size = GetFileSize(executable, nullptr);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        LogMessage(LogHandle, L"Can't get size of exe file\n");
        return 0;
    }
    LogMessage(LogHandle, L"ExeFileSize =%d\n", static_cast<int>(size));
    int64_t archiveLength = static_cast<int64_t>(size) - PackageSource.archiveOffset;
    if (PackageSource.archiveOffset <= 0 || archiveLength <= 0 ||
        SetFilePointer(executable, PackageSource.archiveOffset, nullptr, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER) {
        LogMessage(LogHandle, L"Could not get file info. This archive is likely corrupted.\n");
        return 0;
    }
    TransferBuffer buffer;
    if (buffer.get() == nullptr) {
        LogMessage(LogHandle, L"Can't allocate the copy buffer\n");
        return 0;
    }

    int result = 1;
    UniqueFileHandle output;
    // Without the claim the number belongs to a run in progress: its archive
    // is not to be touched.
    if (choice.claimed && MayReplace(path)) {
        output.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 CREATE_ALWAYS, 0, nullptr));
    }
    if (!output) {
        LogMessage(LogHandle, L"Can't create zip file %s\n", path);
        result = 0;
    } else {
        LogMessage(LogHandle, L"Created zip file %s\n", path);
    }

    FileStreams streams(executable, output.get());
    switch (CopyArchiveBytes(streams, static_cast<uint32_t>(archiveLength), buffer.get(),
                             kCopyOutBlockSize)) {
        case CopyOutcome::Complete:
            break;
        case CopyOutcome::ReadFailed:
        case CopyOutcome::SourceEnded:
            LogMessage(LogHandle, L"Could not get file info. This archive is likely corrupted.\n");
            return 0;
        case CopyOutcome::WriteFailed:
            LogMessage(LogHandle, L"Could not extract the current file.\n");
            result = 0;
            break;
    }
    return result;
}
