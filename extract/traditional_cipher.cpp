#include "extract/traditional_cipher.h"

#include <zlib.h>

namespace {

uint32_t CrcStep(uint32_t crc, unsigned char value) {
    static const z_crc_t* const table = get_crc_table();
    return static_cast<uint32_t>(table[(crc ^ value) & 0xff]) ^ (crc >> 8);
}

}  // namespace

TraditionalCipher::TraditionalCipher(const char* password)
    : keys_{0x12345678u, 0x23456789u, 0x34567890u} {
    for (const char* p = password; p != nullptr && *p != '\0'; ++p) {
        UpdateKeys(static_cast<unsigned char>(*p));
    }
}

void TraditionalCipher::UpdateKeys(unsigned char plain) {
    keys_[0] = CrcStep(keys_[0], plain);
    keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
    keys_[2] = CrcStep(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
}

unsigned char TraditionalCipher::Decrypt(unsigned char value) {
    uint32_t temp = (keys_[2] & 0xffff) | 2;
    unsigned char plain = value ^ static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
    UpdateKeys(plain);
    return plain;
}

void TraditionalCipher::Decrypt(unsigned char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        data[i] = Decrypt(data[i]);
    }
}

bool DecryptEncryptionHeader(TraditionalCipher& cipher, unsigned char* header,
                             unsigned char checkByte) {
    cipher.Decrypt(header, kEncryptionHeaderSize);
    return header[kEncryptionHeaderSize - 1] == checkByte;
}
