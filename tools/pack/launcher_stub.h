#pragma once
// The launcher stub that a package begins with: recognised by its PE headers
// and its version information, and taken without a code signature, because
// a signature made before packing no longer fits the package.
#include <cstdint>
#include <string>
#include <vector>

// Why these bytes are not a launcher stub, or empty.
std::string LauncherStubProblem(const std::vector<unsigned char>& stub);

// Removes a certificate table from the end of the stub and clears its
// directory entry. Returns the size of the table removed, 0 when there was
// none. False, with the reason, when the table does not end the file.
bool RemoveStubSignature(std::vector<unsigned char>& stub, uint32_t& removed, std::string& error);
