#include "package/package_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/package_layout.h"
#include "test_support/package_bytes.h"
#include "test_support/scratch_folder.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes& PayloadZip() {
    static Bytes zip = ReadFixture(L"package\\probe_payload.zip");
    return zip;
}

}  // namespace

class PackageProbe : public ::testing::Test {
  protected:
    ScratchFolder scratch{L"probe"};

    // The probe keeps the file open for the copy-out; the scratch folder can
    // only go once it is closed.
    void TearDown() override {
        if (PackageSource.executable != INVALID_HANDLE_VALUE) {
            CloseHandle(PackageSource.executable);
            PackageSource.executable = INVALID_HANDLE_VALUE;
        }
    }

    std::wstring WritePackage(const Bytes& bytes) {
        std::wstring path = scratch.path() + L"\\package.exe";
        WriteFileBytes(path, bytes);
        return path;
    }
};

TEST_F(PackageProbe, FillsPackageSourceFromARealFile) {
    ASSERT_EQ(ProbePackageFile(WritePackage(PackageBytes(100000, "de-AT", PayloadZip())).c_str()),
              1);
    EXPECT_EQ(PackageSource.propertyOffset, 100006);
    EXPECT_EQ(PackageSource.archiveOffset, 100011);
    EXPECT_STREQ(PackageSource.propertyText, "de-AT");
    EXPECT_NE(PackageSource.executable, INVALID_HANDLE_VALUE);
}

TEST_F(PackageProbe, ZeroByteInPropertiesEndsTheText) {
    ASSERT_EQ(
        ProbePackageFile(
            WritePackage(PackageBytes(100000, std::string("en\0US", 5), PayloadZip())).c_str()),
        1);
    EXPECT_STREQ(PackageSource.propertyText, "en");
}

TEST_F(PackageProbe, UnreadableFileGivesNoPackage) {
    EXPECT_EQ(ProbePackageFile((scratch.path() + L"\\missing.exe").c_str()), 0);
}

TEST(LauncherImage, ProbeOfThisTestProgramFindsNoPackage) {
    // The test executable is a plain program: it carries no marker.
    EXPECT_EQ(GetPackageProperties(), nullptr);
}
