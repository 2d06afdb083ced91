#pragma once
// Test support for the native tests: the test archives that
// tests/fixtures/make_fixtures.py made below $VELMAR_FIXTURES, and inputs cut
// short.
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The bytes of the fixture at relative (with "/"), in a buffer of exactly their
// size, so that AddressSanitizer sees any read past them; empty when missing.
inline std::vector<unsigned char> ReadFixtureFile(const std::string& relative) {
    const char* root = std::getenv("VELMAR_FIXTURES");
    std::ifstream file(std::string(root != nullptr ? root : ".") + "/" + relative,
                       std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// Every shorter start of bytes (from empty to one byte less), each in a buffer
// of exactly its size.
inline std::vector<std::vector<unsigned char>> ShorterCopies(
    const std::vector<unsigned char>& bytes) {
    std::vector<std::vector<unsigned char>> copies;
    for (size_t length = 0; length < bytes.size(); ++length) {
        copies.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    }
    return copies;
}
