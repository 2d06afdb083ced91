#include "extract/cabinet_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "extract/cabinet_extraction.h"

namespace {

// The DLL names in the running program's import directory, in lower case.
std::vector<std::string> ImportedLibraries() {
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::vector<std::string> names;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
         imports != 0 && d->Name != 0; ++d) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        names.push_back(name);
    }
    return names;
}

}  // namespace

// This program links the cabinet extraction, so its import table shows
// whether the library would be found through the DLL search order.
TEST(CabinetLibrary, IsNotAmongTheProgramsImports) {
    ASSERT_NE(reinterpret_cast<void*>(&ExtractCabinet), nullptr);
    std::vector<std::string> imports = ImportedLibraries();
    EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
    EXPECT_EQ(std::find(imports.begin(), imports.end(), "cabinet.dll"), imports.end());
}

TEST(CabinetLibrary, LoadsFromTheSystemFolder) {
    UniqueModule module;
    CabinetFunctions functions;
    ASSERT_TRUE(LoadCabinetFunctions(L"cabinet.dll", module, functions));
    EXPECT_NE(functions.create, nullptr);
    EXPECT_NE(functions.isCabinet, nullptr);
    EXPECT_NE(functions.copy, nullptr);
    EXPECT_NE(functions.destroy, nullptr);

    wchar_t system[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    wchar_t loaded[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(module.get(), loaded, MAX_PATH), 0u);
    EXPECT_EQ(_wcsicmp(loaded, (std::wstring(system) + L"\\cabinet.dll").c_str()), 0) << loaded;
    EXPECT_NE(GetCabinetFunctions(), nullptr);
}

TEST(CabinetLibrary, FailsCleanlyWhenTheLibraryIsMissingOrIncomplete) {
    UniqueModule module;
    CabinetFunctions functions;
    functions.create = reinterpret_cast<decltype(functions.create)>(1);
    EXPECT_FALSE(LoadCabinetFunctions(L"velmar-no-such-library.dll", module, functions));
    EXPECT_FALSE(module.valid());
    EXPECT_EQ(functions.create, nullptr);

    // A system library that lacks the decompression functions.
    EXPECT_FALSE(LoadCabinetFunctions(L"version.dll", module, functions));
    EXPECT_FALSE(module.valid());
    EXPECT_EQ(functions.copy, nullptr);

    // Only bare names: anything with a folder would escape the system folder.
    EXPECT_FALSE(LoadCabinetFunctions(L"..\\cabinet.dll", module, functions));
    EXPECT_FALSE(LoadCabinetFunctions(L"C:/windows/system32/cabinet.dll", module, functions));
    EXPECT_FALSE(LoadCabinetFunctions(L"", module, functions));
    EXPECT_FALSE(LoadCabinetFunctions(nullptr, module, functions));
    EXPECT_FALSE(module.valid());
}
