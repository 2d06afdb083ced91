#include "extract/extracted_file_stamp.h"

#include "common/unique_handle.h"
#include "diagnostics/logged_retry.h"

namespace {

LARGE_INTEGER AsLarge(const FILETIME& time) {
    LARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = static_cast<LONG>(time.dwHighDateTime);
    return value;
}

}  // namespace

bool StampOpenFile(HANDLE file, const ExtractedFileStamp& stamp, const std::wstring& path) {
    FILE_BASIC_INFO basic = {};  // zero times and attributes are left as they are
    basic.CreationTime = AsLarge(stamp.creation);
    basic.LastAccessTime = AsLarge(stamp.lastAccess);
    basic.LastWriteTime = AsLarge(stamp.lastWrite);
    basic.FileAttributes = stamp.attributes;
    return RetryLogged(L"set the times and attributes of", path, [&]() {
        return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != 0;
    });
}

bool StampClosedFile(const std::wstring& path, const ExtractedFileStamp& stamp) {
    UniqueFileHandle file;
    RetryLogged(L"open for its times and attributes", path, [&]() {
        file.reset(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return file.valid();
    });
    return file && StampOpenFile(file.get(), stamp, path);
}
