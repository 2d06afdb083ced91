#pragma once
// The zip format's traditional (PKWARE) encryption, decrypting side.
#include <cstddef>
#include <cstdint>

// Every encrypted entry's data starts with this many header bytes.
constexpr size_t kEncryptionHeaderSize = 12;

class TraditionalCipher {
  public:
    // Keys initialised from the password ("" for an empty one).
    explicit TraditionalCipher(const char* password);

    unsigned char Decrypt(unsigned char value);
    void Decrypt(unsigned char* data, size_t size);

  private:
    void UpdateKeys(unsigned char plain);

    uint32_t keys_[3];
};

// Decrypts the 12-byte header in place and tells whether its last byte is the
// expected check byte (the high byte of the CRC-32, or of the DOS time for
// entries with a data descriptor).
bool DecryptEncryptionHeader(TraditionalCipher& cipher, unsigned char* header,
                             unsigned char checkByte);
