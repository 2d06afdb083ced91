#include "extract/cabinet_extraction.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "extract/cabinet_copy.h"
#include "extract/cabinet_file_calls.h"
#include "extract/cabinet_folders.h"
#include "extract/cabinet_library.h"
#include "extract/cabinet_member.h"
#include "extract/entry_name.h"
#include "extract/entry_rules.h"
#include "extract/extracted_file_stamp.h"
#include "extract/extraction_failure.h"
#include "extract/zip_time.h"
#include "extract/extraction_log.h"
#include "diagnostics/diagnostic_log.h"
#include "common/process_state.h"
#include "common/run_failure.h"
#include "common/text_conversion.h"
#include "common/unique_handle.h"

namespace {

constexpr int kCabinetOpenFlags = _O_BINARY | _O_SEQUENTIAL | _O_RDONLY;
// A file already at the member's path is truncated, so that no bytes of a
// longer earlier file remain after the member's data.
constexpr int kMemberOpenFlags = _O_BINARY | _O_CREAT | _O_TRUNC | _O_SEQUENTIAL | _O_WRONLY;
constexpr int kMemberPermission = _S_IREAD | _S_IWRITE;
static_assert(kCabinetOpenFlags == 0x8020, "binary, sequential, read-only");
static_assert((kMemberOpenFlags & ~_O_TRUNC) == 0x8121, "binary, create, sequential, write-only");
static_assert(kMemberPermission == 0x180, "read and write permission");

// The library's callbacks, each a plain pass-through to the runtime.
void* DIAMONDAPI AllocateCallback(ULONG size) {
    return std::malloc(size);
}
void DIAMONDAPI FreeCallback(void* memory) {
    std::free(memory);
}
INT_PTR DIAMONDAPI OpenCallback(char* path, int flags, int permission) {
    return OpenUtf8Path(path, flags, permission);
}
UINT DIAMONDAPI ReadCallback(INT_PTR file, void* buffer, UINT size) {
    return static_cast<UINT>(_read(static_cast<int>(file), buffer, size));
}
// The runtime tells a full disk by errno; the system's own code is kept otherwise.
void NoteMemberWriteFailure(const std::wstring& path) {
    NoteEntryWriteFailure(errno == ENOSPC ? ERROR_DISK_FULL : GetLastError(), path);
}

UINT DIAMONDAPI WriteCallback(INT_PTR file, void* buffer, UINT size) {
    int written = _write(static_cast<int>(file), buffer, size);
    if (written != static_cast<int>(size)) {
        // Only the file descriptor is known here: the work folder stands for the file.
        NoteMemberWriteFailure(WorkFolder);
    }
    return static_cast<UINT>(written);
}
int DIAMONDAPI CloseCallback(INT_PTR file) {
    return _close(static_cast<int>(file));
}
__LONG32 DIAMONDAPI SeekCallback(INT_PTR file, __LONG32 distance, int origin) {
    return _lseek(static_cast<int>(file), distance, origin);
}

// A UTF-8 name or path as one log line, control characters as "?".
std::wstring NameForLog(const char* name) {
    if (name == nullptr) {
        return std::wstring();
    }
    std::wstring wide;
    WideFromCodePage(CP_UTF8, name, 0, wide);
    for (wchar_t& c : wide) {
        if (c < L' ' || c == 0x7F) {
            c = L'?';
        }
    }
    return wide;
}

// Set in a member's attributes when its stored name is UTF-8, not ANSI.
constexpr unsigned short kNameIsUtf8 = 0x80;

// The member's name as UTF-8, the form the paths of this extraction take.
// Names stored in the ANSI code page are converted; names flagged as UTF-8
// must be well formed. False for a name that cannot be read either way.
bool MemberNameInUtf8(const FDINOTIFICATION& notification, std::string& name, std::wstring& wide) {
    if (notification.psz1 == nullptr) {
        return false;
    }
    bool utf8 = (notification.attribs & kNameIsUtf8) != 0;
    if (!WideFromCodePage(utf8 ? CP_UTF8 : CP_ACP, notification.psz1, MB_ERR_INVALID_CHARS, wide)) {
        return false;
    }
    return NarrowFromWide(CP_UTF8, wide, WC_ERR_INVALID_CHARS, name);
}

// Whether the member's folder and file fit the paths Windows creates below
// the destination; otherwise the cabinet fails for a path too long, with a
// log line naming the member and the bound.
bool MemberPathFits(const CabinetTarget& target, const char* name, const std::wstring& wideName) {
    std::wstring destination;
    WidePathFromUtf8(target.destination, destination);
    size_t base = destination.empty() ? 0 : destination.size() - 1;  // without its "\"
    PathBound bound = EntryPathBound(base, std::wstring_view(wideName));
    if (bound == PathBound::Fits) {
        return true;
    }
    LogExtraction(
        L"Cabinet member \"%s\" not extracted: its %s path would be longer than the %d "
        L"characters Windows allows.\n",
        NameForLog(name).c_str(), bound == PathBound::Folder ? L"folder" : L"file",
        static_cast<int>(PathBoundLimit(bound)));
    NoteRunFailure(RunFailure::PathTooLong, ERROR_FILENAME_EXCED_RANGE, destination + wideName);
    return false;
}

INT_PTR OpenMember(const FDINOTIFICATION& notification) {
    const auto* target = static_cast<const CabinetTarget*>(notification.pv);
    std::string utf8Name;
    std::wstring wideName;
    if (!MemberNameInUtf8(notification, utf8Name, wideName)) {
        LogExtraction(L"Cabinet member \"%s\" not extracted: its name cannot be read.\n",
                      NameForLog(notification.psz1).c_str());
        return -1;
    }
    const char* name = utf8Name.c_str();
    if (target == nullptr || !IsCabinetMemberSelected(name, target->onlyName)) {
        return 0;
    }
    if (!IsEntryNameInside(wideName.c_str())) {
        LogExtraction(
            L"Cabinet member \"%s\" not extracted: its name leads outside the destination "
            L"folder.\n",
            NameForLog(name).c_str());
        return 0;
    }
    if (!MemberPathFits(*target, name, wideName)) {
        return -1;
    }
    char memberPath[kCabinetPathCapacity];
    std::wstring widePath;
    if (!JoinMemberPath(target->destination, name, memberPath) ||
        !WidePathFromUtf8(memberPath, widePath)) {
        LogExtraction(L"Cabinet member \"%s\" not extracted: its path is too long.\n",
                      NameForLog(name).c_str());
        return -1;
    }
    std::unique_ptr<char[]> folder(GetParentPath(memberPath));
    if (folder != nullptr) {
        CreateFolderWithParents(folder.get());
    }
    // A file already there may be read-only, hidden or system: make it writable.
    SetUtf8PathAttributes(memberPath, FILE_ATTRIBUTE_NORMAL);
    int member = OpenUtf8Path(memberPath, kMemberOpenFlags, kMemberPermission);
    if (member == -1) {
        NoteEntryWriteFailure(GetLastError(), widePath);
    }
    return member;
}

INT_PTR FinishMember(const FDINOTIFICATION& notification) {
    const auto* target = static_cast<const CabinetTarget*>(notification.pv);
    // A member whose last bytes cannot be stored (a full disk) is not whole.
    if (_close(static_cast<int>(notification.hf)) != 0) {
        NoteMemberWriteFailure(WorkFolder);
        return -1;
    }
    char memberPath[kCabinetPathCapacity];
    std::string name;
    std::wstring wide;
    if (target == nullptr || !MemberNameInUtf8(notification, name, wide) ||
        !JoinMemberPath(target->destination, name.c_str(), memberPath)) {
        return 1;
    }
    std::wstring widePath;
    if (!WidePathFromUtf8(memberPath, widePath)) {
        return 1;
    }
    ExtractedFileStamp stamp;
    // The stored date and time are local; creation and last write take them.
    if (ZipTimeToFileTime(notification.date, notification.time, &stamp.lastWrite)) {
        stamp.creation = stamp.lastWrite;
    }
    stamp.attributes = MemberFileAttributes(notification.attribs);
    StampClosedFile(widePath, stamp);
    return 1;
}

class DecompressionContext {
  public:
    DecompressionContext(const CabinetFunctions& functions, HFDI context)
        : functions_(functions), context_(context) {}
    ~DecompressionContext() {
        if (context_ != nullptr) {
            functions_.destroy(context_);
        }
    }
    DecompressionContext(const DecompressionContext&) = delete;
    DecompressionContext& operator=(const DecompressionContext&) = delete;
    HFDI get() const { return context_; }

  private:
    const CabinetFunctions& functions_;
    HFDI context_;
};

}  // namespace

INT_PTR DIAMONDAPI CabinetNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    if (notification == nullptr) {
        return 0;
    }
    switch (type) {
        case fdintCOPY_FILE:
            return OpenMember(*notification);
        case fdintCLOSE_FILE_INFO:
            return FinishMember(*notification);
        case fdintNEXT_CABINET:
            // Cabinets that continue in another are not extracted: -1 ends the
            // copy, where 0 would make the library try the next cabinet again.
            return -1;
        default:
            return 0;
    }
}

int CopyFromCabinet(const char* cabinet, PFNWRITE write, PFNFDINOTIFY notify, ERF* error,
                    CabinetTarget* target) {
    const CabinetFunctions* functions = GetCabinetFunctions();
    if (functions == nullptr || cabinet == nullptr) {
        return 0;
    }
    char folderPart[kCabinetPathCapacity];
    char namePart[kCabinetPathCapacity];
    if (!SplitCabinetPath(cabinet, folderPart, namePart)) {
        LogMessage(LogHandle, L"Cabinet \"%s\" not extracted: its path is too long.\n",
                   NameForLog(cabinet).c_str());
        return 0;
    }
    DecompressionContext context(
        *functions, functions->create(AllocateCallback, FreeCallback, OpenCallback, ReadCallback,
                                      write, CloseCallback, SeekCallback, cpuUNKNOWN, error));
    if (context.get() == nullptr) {
        return 0;
    }
    {
        UniqueDescriptor file(OpenUtf8Path(cabinet, kCabinetOpenFlags, 0));
        if (!file) {
            return 0;
        }
        FDICABINETINFO information;
        std::memset(&information, 0, sizeof(information));
        if (!functions->isCabinet(context.get(), file.get(), &information)) {
            return 0;
        }
    }
    return functions->copy(context.get(), namePart, folderPart, 0, notify, nullptr, target) ? 1 : 0;
}

int ExtractCabinet(const char* destination, const char* cabinet, const char* onlyName) {
    CabinetTarget target;
    std::memset(&target, 0, sizeof(target));
    if (!FormDestinationFolder(destination, target.destination)) {
        LogMessage(LogHandle,
                   L"Cabinet not extracted: the destination folder \"%s\" is empty or too long.\n",
                   NameForLog(destination).c_str());
        return -1;
    }
    target.onlyName = onlyName;
    ERF error;
    std::memset(&error, 0, sizeof(error));
    if (CopyFromCabinet(cabinet, WriteCallback, CabinetNotify, &error, &target)) {
        return 0;
    }
    return error.erfOper != 0 ? error.erfOper : -1;
}
