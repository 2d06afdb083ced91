// The package search over a file's bytes: the marker, the property text and
// the archive within their bounds, and the certificate table behind the
// archive.
#include "package/package_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support/fixture_file.h"
#include "test_support/package_bytes.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes& PayloadZip() {
    static Bytes zip = ReadFixtureFile("package/probe_payload.zip");
    return zip;
}

Bytes MarkerSequence() {
    const unsigned char* marker = MarkerBytes();
    return Bytes(marker, marker + kMarkerLength);
}

PackageLayout Locate(const Bytes& file) {
    size_t start = static_cast<size_t>(kMarkerSearchStart);
    size_t end = std::min(file.size(), static_cast<size_t>(kSearchBlockEnd));
    if (file.size() <= start) {
        return LocatePackage(nullptr, 0);
    }
    return LocatePackage(file.data() + start, end - start);
}

}  // namespace

TEST(PackageLayout, MarkerIsFoundOnlyWithinItsBounds) {
    EXPECT_EQ(Locate(PackageBytes(99999, "en_US", PayloadZip())).result, 0);
    PackageLayout at100000 = Locate(PackageBytes(100000, "en_US", PayloadZip()));
    EXPECT_EQ(at100000.result, 1);
    EXPECT_EQ(at100000.markerOffset, 100000);
    EXPECT_EQ(at100000.archiveOffset, 100000 + 6 + 5);
    EXPECT_EQ(at100000.propertyText, "en_US");
    // At 500000 the marker is found, and the window behind it is examined
    // although it lies past the bound.
    PackageLayout at500000 = Locate(PackageBytes(500000, "", PayloadZip()));
    EXPECT_EQ(at500000.result, 1);
    EXPECT_EQ(at500000.archiveOffset, 500006);
    EXPECT_EQ(Locate(PackageBytes(500001, "", PayloadZip())).result, 0);
}

TEST(PackageLayout, ArchivePastTheBoundIsNotFound) {
    // A property text that pushes the archive past 500000.
    PackageLayout layout = Locate(PackageBytes(499990, "en_US_long_text", PayloadZip()));
    EXPECT_TRUE(layout.markerFound);
    EXPECT_EQ(layout.result, 0);
}

TEST(PackageLayout, FirstMarkerCountsAndSecondBecomesProperties) {
    Bytes marker = MarkerSequence();
    std::string properties = "en_US" + std::string(marker.begin(), marker.end()) + "de_AT";
    PackageLayout layout = Locate(PackageBytes(120000, properties, PayloadZip()));
    EXPECT_EQ(layout.result, 1);
    EXPECT_EQ(layout.markerOffset, 120000);
    EXPECT_EQ(layout.propertyText, properties);
}

TEST(PackageLayout, PropertyBlockLimits) {
    PackageLayout empty = Locate(PackageBytes(100000, "", PayloadZip()));
    EXPECT_EQ(empty.result, 1);
    EXPECT_FALSE(empty.propertyRead);

    std::string longest(259, 'p');
    PackageLayout at259 = Locate(PackageBytes(100000, longest, PayloadZip()));
    EXPECT_EQ(at259.result, 1);
    EXPECT_EQ(at259.propertyText, longest);

    PackageLayout at260 = Locate(PackageBytes(100000, std::string(260, 'p'), PayloadZip()));
    EXPECT_EQ(at260.result, 1);
    EXPECT_TRUE(at260.propertyTooLong);
    EXPECT_EQ(at260.archiveOffset - at260.propertyOffset, 260);
}

TEST(PackageLayout, SignatureInsidePropertiesStartsTheArchive) {
    std::string properties = std::string("en_US") + "PK\x03\x04" + "rest";
    PackageLayout layout = Locate(PackageBytes(100000, properties, PayloadZip()));
    EXPECT_EQ(layout.result, 1);
    EXPECT_EQ(layout.archiveOffset, 100000 + 6 + 5);
    EXPECT_EQ(layout.propertyText, "en_US");
}

TEST(PackageLayout, ShortFilesNeverMatchPastTheirEnd) {
    EXPECT_EQ(Locate(Bytes(50000, 'x')).result, 0);
    // A marker cut short by the end of the file.
    Bytes cut(100000, 'x');
    Bytes marker = MarkerSequence();
    cut.insert(cut.end(), marker.begin(), marker.begin() + 5);
    EXPECT_FALSE(Locate(cut).markerFound);
    // A marker with nothing behind it.
    EXPECT_EQ(Locate(PackageBytes(100000, "en_US", Bytes())).result, 0);
}

// PE headers of a 64-bit image whose security directory names offset and size.
Bytes PeHead(uint32_t offset, uint32_t size) {
    Bytes head(0x200, 0);
    auto put = [&](size_t at, uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            head[at + i] = static_cast<unsigned char>(value >> (8 * i));
        }
    };
    head[0] = 'M';
    head[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x4550, 4);
    put(0x84 + 16, 240, 2);              // optional header size
    put(0x98, 0x20B, 2);                 // PE32+
    put(0x98 + 108, 16, 4);              // directory count
    put(0x98 + 112 + 4 * 8, offset, 4);  // security directory
    put(0x98 + 112 + 4 * 8 + 4, size, 4);
    return head;
}

TEST(PackageLayout, ArchiveEndsWhereACertificateTableBehindItBegins) {
    PackageLayout layout;
    layout.result = 1;
    layout.archiveOffset = 100011;
    struct Case {
        uint32_t offset, size;
        uint64_t fileSize, end;
    };
    const Case cases[] = {
        {200000, 70000, 270000, 200000},  // a signed package
        {0, 0, 270000, 270000},           // unsigned: to the end of the file
        {200000, 1000, 270000, 270000},   // a table that does not end the file
        {90000, 180000, 270000, 270000},  // a table before the archive
    };
    for (const Case& c : cases) {
        Bytes head = PeHead(c.offset, c.size);
        CertificateTable table = FindCertificateTable(head.data(), head.size(), c.fileSize);
        EXPECT_EQ(ArchiveEndOffset(layout, table, c.fileSize), c.end) << c.offset;
    }
    Bytes text(0x200, 'x');
    EXPECT_FALSE(FindCertificateTable(text.data(), text.size(), 270000).present);
}
