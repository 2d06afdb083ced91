#pragma once
// Test support for the native tests: the test archives that
// tests/fixtures/make_fixtures.py made below $VELMAR_FIXTURES.
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
