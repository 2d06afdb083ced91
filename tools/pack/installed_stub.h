#pragma once
// Where an install puts the launcher stub, so that --launcher may be left
// out: beside velmar-pack (as in the build's dist folder and the Windows
// release), or in PREFIX/share/velmar/ for PREFIX/bin/velmar-pack.
#include <filesystem>
#include <string>
#include <vector>

constexpr const char* kStubFileName = "velmar-launcher.exe";

// The places looked at, in order, for the running program.
std::vector<std::filesystem::path> InstalledStubPlaces();

// The first of the places that holds a file, as UTF-8; empty, with a refusal
// that says where it looked, when none does.
std::string FindInstalledStub(std::string& error);
