#pragma once
// AEAD_AES_SIV_CMAC_256: AES-SIV with a 32-byte key (CMAC key, then CTR
// key), through the crypto library's "AES-128-SIV". The output is the
// 16-byte synthetic IV followed by the ciphertext.
#include <cstddef>
#include <cstdint>

namespace nts {

// Every part is shorter than 64 KiB (what a datagram holds).
struct Bytes {
  const uint8_t* data;
  size_t size;
};

// The synthetic IV (S2V) of the components and the text, with the first
// half of key: the whole output for an empty text, which the crypto
// library's cipher does not take.
bool S2v(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes text, uint8_t* out);
// Seals plain into out (plain.size + 16 bytes) with the associated-data
// components in order (for the NTS AEAD: the associated data, then the nonce).
bool SivSeal(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes plain, uint8_t* out);
// Opens sealed (at least 16 bytes) into plain (sealed.size - 16 bytes);
// false, with plain zeroed, when it does not verify.
bool SivOpen(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes sealed, uint8_t* plain);

}  // namespace nts
