#pragma once
// Test support: a private temporary folder for the code under test. TMP and
// TEMP point into a scratch folder for the object's lifetime, so GetTempPathW
// names it and nothing touches the user's real temporary folder.
#include <windows.h>

#include <string>

#include "test_support/scratch_folder.h"

class TempRedirect {
  public:
    explicit TempRedirect(const std::wstring& name) : scratch_(name) {
        temp_ = scratch_.path() + L"\\temp\\";
        CreateDirectoryW(temp_.c_str(), nullptr);
        Save(L"TMP", oldTmp_, hadTmp_);
        Save(L"TEMP", oldTemp_, hadTemp_);
        SetEnvironmentVariableW(L"TMP", temp_.c_str());
        SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    }
    ~TempRedirect() {
        SetEnvironmentVariableW(L"TMP", hadTmp_ ? oldTmp_.c_str() : nullptr);
        SetEnvironmentVariableW(L"TEMP", hadTemp_ ? oldTemp_.c_str() : nullptr);
    }
    TempRedirect(const TempRedirect&) = delete;
    TempRedirect& operator=(const TempRedirect&) = delete;

    // The temporary folder as GetTempPathW gives it, with its trailing backslash.
    const std::wstring& temp() const { return temp_; }
    // The scratch folder around it: outside the temporary folder.
    const std::wstring& outside() const { return scratch_.path(); }

  private:
    static void Save(const wchar_t* name, std::wstring& value, bool& had) {
        wchar_t buffer[1024] = {};
        DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
        had = length > 0 && length < 1024;
        value = had ? buffer : L"";
    }

    ScratchFolder scratch_;
    std::wstring temp_;
    std::wstring oldTmp_, oldTemp_;
    bool hadTmp_ = false, hadTemp_ = false;
};
