#include "package/workspace_folders.h"

#include "common/folder_creation.h"
#include "common/system_paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support/temp_redirect.h"
#include "test_support/scratch_folder.h"

namespace {

bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    ASSERT_TRUE(WriteFileText(path, "content")) << "cannot write test file";
    SetFileAttributesW(path.c_str(), attributes);
}

// Calls CreateFolderPath on a 260-character buffer, as the program does.
void CreateIn(const std::wstring& text, std::wstring* after = nullptr) {
    wchar_t buffer[260] = {};
    text.copy(buffer, 259);
    CreateFolderPath(buffer);
    if (after != nullptr) {
        *after = buffer;
    }
}

}  // namespace

TEST(FolderWalk, BeginsPastTheRoot) {
    EXPECT_EQ(FolderWalkStart(L"C:\\a\\b\\"), 3u);
    EXPECT_EQ(FolderWalkStart(L"\\\\server\\share\\a\\"), 14u);
    EXPECT_EQ(FolderWalkStart(L"\\\\server\\share"), kNoFolderWalk);
    EXPECT_EQ(FolderWalkStart(L"\\\\server"), kNoFolderWalk);
    EXPECT_EQ(FolderWalkStart(L"relative\\a\\"), 1u);
    EXPECT_EQ(FolderWalkStart(L"\\rooted\\a\\"), 1u);
}

TEST(RemovablePath, MustLieStrictlyInsideTheTemporaryFolder) {
    const wchar_t* temp = L"C:\\Users\\Ann\\Temp\\";
    EXPECT_TRUE(IsRemovableInTemp(L"C:\\Users\\Ann\\Temp\\OffPlay\\rec_1", temp));
    EXPECT_TRUE(IsRemovableInTemp(L"c:\\users\\ANN\\temp\\OffPlay\\rec_1\\", temp));
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\Users\\Ann\\Temp", temp));    // no backslash
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\Users\\Ann\\Temp\\", temp));  // the folder itself
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\Users\\Ann\\Tempest\\x", temp));
    // Only ASCII letters are compared without case.
    EXPECT_FALSE(
        IsRemovableInTemp(L"C:\\Users\\\u00c4nn\\Temp\\x", L"C:\\Users\\\u00e4nn\\Temp\\"));
    EXPECT_FALSE(IsRemovableInTemp(L"x", L""));
}

TEST(RemovablePath, DotComponentsAndLongPathsAreRefused) {
    const wchar_t* temp = L"C:\\T\\";
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\T\\OffPlay\\..\\..\\Windows", temp));
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\T\\a/../..", temp));
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\T\\.\\a", temp));
    EXPECT_FALSE(IsRemovableInTemp(L"C:\\T\\a\\.. \\b", temp));
    EXPECT_TRUE(IsRemovableInTemp(L"C:\\T\\a..b\\.c", temp));

    // The search pattern (path, "\", "*.*") must fit 260 characters.
    std::wstring fits = std::wstring(L"C:\\T\\") + std::wstring(255 - 5, L'a');  // 255 characters
    EXPECT_TRUE(IsRemovableInTemp(fits.c_str(), temp));
    EXPECT_FALSE(IsRemovableInTemp((fits + L"a").c_str(), temp));
    EXPECT_TRUE(IsRemovableInTemp((fits + L"\\").c_str(), temp));
    std::wstring overlong(300, L'a');
    EXPECT_FALSE(IsRemovableInTemp((std::wstring(temp) + overlong).c_str(), temp));
}

class WorkspaceFolders : public ::testing::Test {
  protected:
    TempRedirect redirect{L"folders"};
    const std::wstring& temp() const { return redirect.temp(); }
};

// What the launcher takes for the temporary folder (and so the only place it
// writes and sweeps) is the one the platform reports for TMP.
TEST_F(WorkspaceFolders, TemporaryFolderIsTheOneTmpNames) {
    EXPECT_EQ(TemporaryFolderPath(), temp());
}

TEST_F(WorkspaceFolders, CreateFolderPathMakesEveryMissingLevel) {
    std::wstring path = temp() + L"one\\two\\three\\";
    std::wstring after;
    CreateIn(path, &after);
    EXPECT_TRUE(IsFolder(temp() + L"one\\two\\three"));
    EXPECT_EQ(after, path);  // the text is restored
    // Existing: nothing happens; one missing level below an existing parent.
    CreateIn(path);
    CreateIn(temp() + L"one\\four\\");
    EXPECT_TRUE(IsFolder(temp() + L"one\\four"));
    // Without a trailing backslash the last component is made too.
    CreateIn(temp() + L"five\\six");
    EXPECT_TRUE(IsFolder(temp() + L"five\\six"));
}

TEST_F(WorkspaceFolders, CreateFolderPathStopsAtAFileInTheWay) {
    MakeFile(temp() + L"blocker");
    std::wstring path = temp() + L"blocker\\inner\\deeper\\";
    std::wstring after;
    CreateIn(path, &after);
    EXPECT_FALSE(IsFolder(temp() + L"blocker"));
    EXPECT_FALSE(FileExists(temp() + L"blocker\\inner"));
    EXPECT_EQ(after, path);
}

TEST_F(WorkspaceFolders, CreateFolderPathRefusesUnterminatedOrOverlongText) {
    wchar_t full[260];
    std::wstring prefix = temp() + L"long";
    for (size_t i = 0; i < 260; ++i) {
        full[i] = i < prefix.size() ? prefix[i] : L'x';
    }
    CreateFolderPath(full);  // no terminator within the buffer
    EXPECT_FALSE(FileExists(prefix));
    EXPECT_EQ(full[259], L'x');
    CreateFolderPath(nullptr);
}

TEST_F(WorkspaceFolders, RemoveFolderTreeDeletesEverythingButReadOnlyEntries) {
    std::wstring root = temp() + L"run";
    CreateIn(root + L"\\bin\\");
    CreateIn(root + L"\\deep\\er\\");
    MakeFile(root + L"\\bin\\velmar.exe");
    MakeFile(root + L"\\hidden.dat", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    MakeFile(root + L"\\deep\\er\\keep.txt", FILE_ATTRIBUTE_READONLY);
    MakeFile(root + L"\\deep\\er\\drop.txt");
    MakeFile(root + L"\\deep\\drop.txt");

    RemoveFolderTree(root.c_str());

    EXPECT_TRUE(FileExists(root + L"\\deep\\er\\keep.txt"));
    EXPECT_FALSE(FileExists(root + L"\\deep\\er\\drop.txt"));
    EXPECT_FALSE(FileExists(root + L"\\deep\\drop.txt"));
    EXPECT_FALSE(FileExists(root + L"\\bin"));
    EXPECT_FALSE(FileExists(root + L"\\hidden.dat"));

    SetFileAttributesW((root + L"\\deep\\er\\keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveFolderTree((root + L"\\").c_str());
    EXPECT_FALSE(FileExists(root));
}

TEST_F(WorkspaceFolders, ReadOnlyFolderIsNeitherEnteredNorRemoved) {
    std::wstring root = temp() + L"run";
    CreateIn(root + L"\\locked\\");
    MakeFile(root + L"\\locked\\inside.txt");
    SetFileAttributesW((root + L"\\locked").c_str(), FILE_ATTRIBUTE_READONLY);
    if ((GetFileAttributesW((root + L"\\locked").c_str()) & FILE_ATTRIBUTE_READONLY) == 0) {
        GTEST_SKIP() << "this platform does not keep the read-only attribute on folders";
    }
    RemoveFolderTree(root.c_str());
    EXPECT_TRUE(FileExists(root + L"\\locked\\inside.txt"));
    SetFileAttributesW((root + L"\\locked").c_str(), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(WorkspaceFolders, RemoveFolderTreeTouchesNothingOutsideTheTemporaryFolder) {
    std::wstring outside = redirect.outside() + L"\\elsewhere";
    CreateIn(outside + L"\\sub\\");
    MakeFile(outside + L"\\sub\\file.txt");
    MakeFile(temp() + L"file.txt");
    RemoveFolderTree(outside.c_str());
    // The temporary folder itself, with or without its backslash.
    std::wstring tempItself = temp().substr(0, temp().size() - 1);
    RemoveFolderTree(tempItself.c_str());
    RemoveFolderTree(temp().c_str());
    // Climbing out with "..".
    RemoveFolderTree((temp() + L"..\\elsewhere").c_str());
    RemoveFolderTree((temp() + L"x\\..\\..\\elsewhere").c_str());
    RemoveFolderTree((temp() + L"missing").c_str());
    RemoveFolderTree(nullptr);
    EXPECT_TRUE(FileExists(outside + L"\\sub\\file.txt"));
    EXPECT_TRUE(FileExists(temp() + L"file.txt"));

    // Inside, named with other letter case: removed.
    CreateIn(temp() + L"CaseRun\\");
    std::wstring upper = temp();
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(towupper(c));
    }
    RemoveFolderTree((upper + L"caserun").c_str());
    EXPECT_FALSE(FileExists(temp() + L"CaseRun"));
}

TEST_F(WorkspaceFolders, EntriesTooLongToNameAreLeftInPlace) {
    std::wstring root = temp() + L"longrun";
    std::wstring folder = root + L"\\" + std::wstring(250 - root.size(), L'd');
    std::wstring file = folder + L"\\" + std::wstring(40, L'f');
    ASSERT_LT(folder.size(), 260u);
    ASSERT_GT(file.size(), 260u);
    CreateIn(folder + L"\\");
    ASSERT_TRUE(WriteFileText(L"\\\\?\\" + file, "far"));
    MakeFile(root + L"\\short.txt");

    RemoveFolderTree(root.c_str());

    EXPECT_FALSE(FileExists(root + L"\\short.txt"));
    EXPECT_TRUE(FileExists(L"\\\\?\\" + file));
    DeleteFileW((L"\\\\?\\" + file).c_str());
}

TEST_F(WorkspaceFolders, DeleteFileInTempDeletesOnlyFreeFilesInside) {
    MakeFile(temp() + L"plain.zip");
    EXPECT_TRUE(DeleteFileInTemp((temp() + L"plain.zip").c_str()));
    EXPECT_FALSE(FileExists(temp() + L"plain.zip"));
    EXPECT_FALSE(DeleteFileInTemp((temp() + L"plain.zip").c_str()));

    MakeFile(temp() + L"readonly.zip", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(DeleteFileInTemp((temp() + L"readonly.zip").c_str()));
    EXPECT_TRUE(FileExists(temp() + L"readonly.zip"));
    SetFileAttributesW((temp() + L"readonly.zip").c_str(), FILE_ATTRIBUTE_NORMAL);

    // In use without shared deletion, as a running program's image is.
    MakeFile(temp() + L"busy.exe");
    HANDLE busy = CreateFileW((temp() + L"busy.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(DeleteFileInTemp((temp() + L"busy.exe").c_str()));
    CloseHandle(busy);
    EXPECT_TRUE(FileExists(temp() + L"busy.exe"));

    std::wstring outside = redirect.outside() + L"\\outside.zip";
    MakeFile(outside);
    EXPECT_FALSE(DeleteFileInTemp(outside.c_str()));
    EXPECT_FALSE(DeleteFileInTemp((temp() + L"..\\outside.zip").c_str()));
    EXPECT_TRUE(FileExists(outside));
    // A folder is not a file.
    CreateIn(temp() + L"folder.zip\\");
    EXPECT_FALSE(DeleteFileInTemp((temp() + L"folder.zip").c_str()));
    EXPECT_TRUE(IsFolder(temp() + L"folder.zip"));
}
