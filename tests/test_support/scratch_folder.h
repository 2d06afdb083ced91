#pragma once
// Test plumbing shared by the unit tests: scratch folders below the user's
// temporary folder, and the archives that the fixture scripts made.
#include <string>
#include <vector>

// A fresh folder below the temporary folder, removed with everything in it
// (read-only entries included) when the object goes away.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::wstring& name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Without a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// Removes a folder tree, clearing read-only attributes on the way. Links are
// removed, never followed.
void RemoveTreeForTests(const std::wstring& path);

// Names of everything directly in a folder, "." and ".." left out.
std::vector<std::wstring> FolderNames(const std::wstring& folder);

// The fixture folder made at test time (environment variable VELMAR_FIXTURES).
std::wstring FixturePath(const std::wstring& relative);
std::vector<unsigned char> ReadFixture(const std::wstring& relative);

std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
// The whole file as bytes; empty when it cannot be read.
std::string ReadFileText(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes);
bool WriteFileText(const std::wstring& path, const std::string& text);
bool FileExists(const std::wstring& path);
