#pragma once
// --test: reads a finished package as the launcher will and names the first
// thing that would go wrong: the marker and locale text, the archive's
// extent and signature table, every entry's data and CRC-32, nested zips and
// cabinets, the names and bounds the launcher applies, the client and the
// files it rewrites.
#include <cstdint>
#include <filesystem>
#include <streambuf>
#include <string>

struct PackageCheck {
    bool sound = false;
    std::string part;      // what the problem is in: an entry's name, "archive", "signature", ...
    std::string problem;   // why, when not sound
    uint64_t entries = 0;  // entries and cabinet members, nested ones included
    uint64_t nestedArchives = 0;
    uint64_t bytes = 0;  // their sizes
    bool signedPackage = false;
};

struct CheckSettings {
    bool showProgress = false;
};

// Checks an archive the launcher follows inside a payload (name ends in
// ".zip" or ".cab"; content its bytes) found in an archive at level (the
// payload is 0), as the walk of CheckPackage does, adding to check's counts
// (entries and nested archives so far); false with check's part and problem.
bool CheckNestedArchive(const std::string& name, std::string& content, int level,
                        PackageCheck& check);

// Checks the package in buffer.
PackageCheck CheckPackage(std::streambuf& buffer, const CheckSettings& settings);

// Why the certificate table the PE headers in head name is not one the
// launcher stops the archive at (it does not end the file, or its entries do
// not add up), or empty; empty also for an unsigned file.
std::string SignatureTableProblem(std::streambuf& buffer, const unsigned char* head,
                                  size_t headLength, uint64_t fileSize);

// --test PATH: the one-line summary (or JSON object) on stdout and 0, or the
// problem on stderr and 1.
int TestPackage(const std::filesystem::path& path, bool json, bool quiet, bool progress);
