#include "extract/cabinet_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <string>
#include <vector>

#include "extract/cabinet_extraction.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The DLL names in one of the running program's import directories.
std::vector<std::string> ImportedLibraries(int directory) {
    auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[directory];
    std::vector<std::string> names;
    if (entry.VirtualAddress == 0) {
        return names;
    }
    if (directory == IMAGE_DIRECTORY_ENTRY_IMPORT) {
        for (auto* d =
                 reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + entry.VirtualAddress);
             d->Name != 0; ++d) {
            names.push_back(Lower(reinterpret_cast<const char*>(base + d->Name)));
        }
    } else {
        for (auto* d =
                 reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(base + entry.VirtualAddress);
             d->DllNameRVA != 0; ++d) {
            names.push_back(Lower(reinterpret_cast<const char*>(base + d->DllNameRVA)));
        }
    }
    return names;
}

std::wstring LowerWide(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

}  // namespace

// This program links the cabinet extraction, so its import table shows
// whether the library would be found through the DLL search order.
TEST(CabinetLibrary, IsNotAmongTheProgramsImports) {
    ASSERT_NE(reinterpret_cast<void*>(&ExtractCabinet), nullptr);
    std::vector<std::string> imports = ImportedLibraries(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_FALSE(imports.empty());
    EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
    for (const std::string& name : imports) {
        EXPECT_NE(name, "cabinet.dll");
    }
    for (const std::string& name : ImportedLibraries(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT)) {
        EXPECT_NE(name, "cabinet.dll");
    }
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
    EXPECT_EQ(LowerWide(loaded), LowerWide(std::wstring(system) + L"\\cabinet.dll"));
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
