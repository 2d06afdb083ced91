#pragma once
// Shared plumbing of the zip reader and driver tests: a scratch folder that is
// also the current directory while a test runs, and file time helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "test_support/scratch_folder.h"

inline std::wstring ZipFixture(const std::wstring& name) {
    return FixturePath(L"extract\\zip\\" + name);
}

inline uint64_t Ticks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// 100-ns ticks since 1601 of a Unix time.
inline uint64_t UnixTicks(int64_t unixTime) {
    return static_cast<uint64_t>(unixTime + 11644473600LL) * 10000000ULL;
}

// The UTC file time of a local calendar time, by the platform's own conversion.
inline uint64_t LocalCalendarTicks(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(year);
    local.wMonth = static_cast<WORD>(month);
    local.wDay = static_cast<WORD>(day);
    local.wHour = static_cast<WORD>(hour);
    local.wMinute = static_cast<WORD>(minute);
    local.wSecond = static_cast<WORD>(second);
    FILETIME localTime;
    FILETIME universal;
    if (!SystemTimeToFileTime(&local, &localTime) ||
        !LocalFileTimeToFileTime(&localTime, &universal)) {
        return 0;
    }
    return Ticks(universal);
}

// The fixtures' DOS time, 2021-03-04 05:06:08 local time, in UTC.
inline uint64_t FixtureDosTicks() {
    return LocalCalendarTicks(2021, 3, 4, 5, 6, 8);
}

struct FileTimes {
    uint64_t creation = 0;
    uint64_t access = 0;
    uint64_t write = 0;
};

inline bool ReadFileTimes(const std::wstring& path, FileTimes* times) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    times->creation = Ticks(data.ftCreationTime);
    times->access = Ticks(data.ftLastAccessTime);
    times->write = Ticks(data.ftLastWriteTime);
    return true;
}

// Whether the file system keeps a creation time that SetFileTime gives it
// (Windows does; Wine on a Linux file system reports another time instead).
inline bool PlatformKeepsCreationTime(const std::wstring& folder) {
    std::wstring path = folder + L"\\creation-probe.tmp";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    FILETIME wanted = {0x12345600u, 0x01D00000u};
    SetFileTime(file, &wanted, nullptr, nullptr);
    CloseHandle(file);
    FileTimes times;
    bool kept = ReadFileTimes(path, &times) && times.creation == Ticks(wanted);
    DeleteFileW(path.c_str());
    return kept;
}

// A scratch folder inside a scratch folder, so that anything written next to
// it, outside it, shows up in the outer one. The inner folder is the current
// directory while the test runs.
class ExtractionFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t previous[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        outer_ = std::make_unique<ScratchFolder>(L"zip");
        work_ = outer_->path() + L"\\work";
        ASSERT_TRUE(CreateDirectoryW(work_.c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryW(work_.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryW(previous_.c_str());
        outer_.reset();
    }

    std::wstring Work(const std::wstring& name) const { return work_ + L"\\" + name; }
    // Everything that ended up beside the work folder instead of inside it.
    std::vector<std::wstring> Escaped() const {
        std::vector<std::wstring> names;
        for (const std::wstring& name : FolderNames(outer_->path())) {
            if (name != L"work") {
                names.push_back(name);
            }
        }
        return names;
    }
    const std::wstring& outer() const { return outer_->path(); }

    std::wstring work_;

  private:
    std::wstring previous_;
    std::unique_ptr<ScratchFolder> outer_;
};
