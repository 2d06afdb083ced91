// The zip layout and the cabinet structure checks over archives that real
// tools made, some damaged field by field, whole and cut short: every result
// defined, and nothing read past the archive's bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/cabinet_structure.h"
#include "extract/zip_layout.h"
#include "test_support/fixture_file.h"

namespace {

using Bytes = std::vector<unsigned char>;

ZipLayout LayoutOf(const Bytes& bytes) {
    MemoryByteSource source(bytes.data(), bytes.size());
    return ReadZipLayout(source);
}

CabinetStructure StructureOf(const Bytes& bytes) {
    MemoryByteSource source(bytes.data(), bytes.size());
    return CheckCabinetStructure(source);
}

struct ZipCase {
    const char* fixture;
    bool overlapping;
    uint32_t records;
    uint64_t declared;
    bool behindLauncher;  // also found behind a launcher's bytes, as in a package
};

TEST(ZipLayout, RecordsOverlapsAndDeclaredSizesOfRealArchives) {
    const ZipCase cases[] = {
        {"payload.zip", false, 18, 1128, true},
        {"encrypted.zip", false, 5, 40072, true},
        {"empty_comment.zip", false, 0, 0, true},
        {"overlapping.zip", true, 10, 10u << 20, true},     // one local header for ten records
        {"huge_declared.zip", false, 1, 1ull << 50, true},  // the size in a zip64 extra block
        {"declares_more.zip", false, 2, 6, true},           // 0xFFFF records declared
        // 0x7FFFFFFF records declared in a zip64 end record, whose locator
        // gives its position in the file: in front of it nothing may stand.
        {"declares_zip64.zip", false, 2, 6, false},
        {"bad_directory.zip", false, 1, 5, true},  // the second record is no record
    };
    for (const ZipCase& c : cases) {
        Bytes zip = ReadFixtureFile(std::string("extract/zip/") + c.fixture);
        ASSERT_FALSE(zip.empty()) << c.fixture;
        Bytes package(4000, 'x');
        package.insert(package.end(), zip.begin(), zip.end());
        for (const Bytes* bytes : {&zip, &package}) {
            if (bytes == &package && !c.behindLauncher) {
                continue;
            }
            ZipLayout layout = LayoutOf(*bytes);
            EXPECT_TRUE(layout.directoryFound) << c.fixture;
            EXPECT_EQ(layout.overlapping, c.overlapping) << c.fixture;
            EXPECT_EQ(layout.recordsRead, c.records) << c.fixture;
            EXPECT_EQ(layout.declaredSize, c.declared) << c.fixture;
        }
    }
}

TEST(ZipLayout, ArchiveCutShortAnywhereHasNoDirectory) {
    Bytes zip = ReadFixtureFile("extract/zip/times.zip");
    ASSERT_FALSE(zip.empty());
    for (const Bytes& cut : ShorterCopies(zip)) {
        EXPECT_FALSE(LayoutOf(cut).directoryFound) << cut.size();
    }
}

struct CabinetCase {
    const char* fixture;
    uint32_t files;  // 0: refused
    uint64_t declared;
    const wchar_t* reason;
};

TEST(CabinetStructure, SoundCabinetsPassAndDamagedOnesSayWhy) {
    const CabinetCase cases[] = {
        {"main.cab", 4, 81, L""},
        {"long.cab", 2, 21, L""},
        {"hostile.cab", 8, 126, L""},  // names are the extraction's business
        {"notacab.bin", 0, 0, L"it is not a cabinet"},
        {"no_folders.cab", 0, 0, L"it declares no folders"},
        {"next_cabinet.cab", 0, 0, L"it continues from or into another cabinet"},
        {"damaged_block.cab", 0, 0, L"a compressed data block is damaged"},
    };
    for (const CabinetCase& c : cases) {
        Bytes cabinet = ReadFixtureFile(std::string("extract/cab/") + c.fixture);
        ASSERT_FALSE(cabinet.empty()) << c.fixture;
        CabinetStructure structure = StructureOf(cabinet);
        EXPECT_EQ(structure.sound, c.files != 0) << c.fixture;
        EXPECT_EQ(std::wstring(structure.reason), c.reason) << c.fixture;
        if (structure.sound) {
            EXPECT_EQ(structure.fileCount, c.files) << c.fixture;
            EXPECT_EQ(structure.declaredSize, c.declared) << c.fixture;
        }
    }
}

TEST(CabinetStructure, CabinetCutShortAnywhereIsRefusedWithAReason) {
    Bytes cabinet = ReadFixtureFile("extract/cab/main.cab");
    ASSERT_FALSE(cabinet.empty());
    for (const Bytes& cut : ShorterCopies(cabinet)) {
        CabinetStructure structure = StructureOf(cut);
        EXPECT_FALSE(structure.sound) << cut.size();
        EXPECT_NE(structure.reason[0], L'\0') << cut.size();
    }
}

}  // namespace
