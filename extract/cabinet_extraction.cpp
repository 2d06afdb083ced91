#include "extract/cabinet_extraction.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "extract/cabinet_copy.h"
#include "extract/cabinet_folders.h"
#include "extract/cabinet_library.h"
#include "extract/cabinet_member.h"
#include "extract/entry_name.h"
#include "extract/extraction_log.h"
#include "launcher/diagnostic_log.h"
#include "launcher/text_conversion.h"
#include "launcher/unique_handle.h"

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
    return _open(path, flags, permission);
}
UINT DIAMONDAPI ReadCallback(INT_PTR file, void* buffer, UINT size) {
    return static_cast<UINT>(_read(static_cast<int>(file), buffer, size));
}
UINT DIAMONDAPI WriteCallback(INT_PTR file, void* buffer, UINT size) {
    return static_cast<UINT>(_write(static_cast<int>(file), buffer, size));
}
int DIAMONDAPI CloseCallback(INT_PTR file) {
    return _close(static_cast<int>(file));
}
__LONG32 DIAMONDAPI SeekCallback(INT_PTR file, __LONG32 distance, int origin) {
    return _lseek(static_cast<int>(file), distance, origin);
}

// A stored name as one log line: ANSI to wide, control characters as "?".
std::wstring NameForLog(const char* name) {
    if (name == nullptr) {
        return std::wstring();
    }
    std::wstring wide;
    WideFromCodePage(CP_ACP, name, 0, wide);
    for (wchar_t& c : wide) {
        if (c < L' ' || c == 0x7F) {
            c = L'?';
        }
    }
    return wide;
}

// Set in a member's attributes when its stored name is UTF-8, not ANSI.
constexpr unsigned short kNameIsUtf8 = 0x80;

// The member's name in the ANSI code page, which the narrow file calls take.
// Names stored as UTF-8 (cabinets made on other systems) are converted; one
// with a letter the code page lacks gives false, never a look-alike name.
bool MemberNameInAnsi(const FDINOTIFICATION& notification, std::string& name) {
    if (notification.psz1 == nullptr) {
        return false;
    }
    if ((notification.attribs & kNameIsUtf8) == 0) {
        name = notification.psz1;
        return true;
    }
    std::wstring wide;
    bool lossy = false;
    return WideFromCodePage(CP_UTF8, notification.psz1, MB_ERR_INVALID_CHARS, wide) &&
           NarrowFromWide(CP_ACP, wide, WC_NO_BEST_FIT_CHARS, name, &lossy) && !lossy;
}

INT_PTR OpenMember(const FDINOTIFICATION& notification) {
    const auto* target = static_cast<const CabinetTarget*>(notification.pv);
    std::string ansiName;
    if (!MemberNameInAnsi(notification, ansiName)) {
        LogExtraction(
            L"Cabinet member \"%s\" not extracted: its name does not fit the system's "
            L"code page.\n",
            NameForLog(notification.psz1).c_str());
        return 0;
    }
    const char* name = ansiName.c_str();
    if (target == nullptr || !IsCabinetMemberSelected(name, target->onlyName)) {
        return 0;
    }
    if (!IsEntryNameInside(name)) {
        LogExtraction(
            L"Cabinet member \"%s\" not extracted: its name leads outside the destination "
            L"folder.\n",
            NameForLog(name).c_str());
        return 0;
    }
    char memberPath[kCabinetPathCapacity];
    if (!JoinMemberPath(target->destination, name, memberPath)) {
        LogExtraction(L"Cabinet member \"%s\" not extracted: its path is too long.\n",
                      NameForLog(name).c_str());
        return 0;
    }
    std::unique_ptr<char[]> folder(GetParentPath(memberPath));
    if (folder != nullptr) {
        CreateFolderWithParents(folder.get());
    }
    // A file already there may be read-only, hidden or system: make it writable.
    SetFileAttributesA(memberPath, FILE_ATTRIBUTE_NORMAL);
    return _open(memberPath, kMemberOpenFlags, kMemberPermission);
}

INT_PTR FinishMember(const FDINOTIFICATION& notification) {
    const auto* target = static_cast<const CabinetTarget*>(notification.pv);
    _close(static_cast<int>(notification.hf));
    char memberPath[kCabinetPathCapacity];
    std::string name;
    if (target == nullptr || !MemberNameInAnsi(notification, name) ||
        !JoinMemberPath(target->destination, name.c_str(), memberPath)) {
        return 1;
    }
    {
        UniqueFileHandle file(CreateFileA(memberPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME local;
        FILETIME universal;
        // The stored date and time are local; creation and last write take them.
        if (file && DosDateTimeToFileTime(notification.date, notification.time, &local) &&
            LocalFileTimeToFileTime(&local, &universal)) {
            SetFileTime(file.get(), &universal, nullptr, &universal);
        }
    }
    SetFileAttributesA(memberPath, MemberFileAttributes(notification.attribs));
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
        UniqueDescriptor file(_open(cabinet, kCabinetOpenFlags, 0));
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
