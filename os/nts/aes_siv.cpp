#include "os/nts/aes_siv.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>
#include <memory>

namespace nts {

namespace {

constexpr int kTag = 16;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

struct CipherFree {
  void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
using Cipher = std::unique_ptr<EVP_CIPHER, CipherFree>;

bool AddAssociated(EVP_CIPHER_CTX* context, const Bytes* ad, size_t adCount, bool encrypt) {
  for (size_t i = 0; i < adCount; ++i) {
    int length = 0;
    int done = encrypt ? EVP_EncryptUpdate(context, nullptr, &length, ad[i].data,
                                           static_cast<int>(ad[i].size))
                       : EVP_DecryptUpdate(context, nullptr, &length, ad[i].data,
                                           static_cast<int>(ad[i].size));
    if (done != 1) return false;
  }
  return true;
}

struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

// AES-CMAC with the first half of the SIV key.
bool Cmac(const uint8_t* key, const uint8_t* data, size_t size, uint8_t* out) {
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
  std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
  if (!context) return false;
  char cipherName[] = "AES-128-CBC";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
                         OSSL_PARAM_construct_end()};
  size_t length = 0;
  return EVP_MAC_init(context.get(), key, kTag, params) == 1 &&
         EVP_MAC_update(context.get(), data, size) == 1 &&
         EVP_MAC_final(context.get(), out, &length, kTag) == 1 && length == kTag;
}

// Doubling in GF(2^128).
void Double(uint8_t* block) {
  uint8_t carry = block[0] >> 7;
  for (int i = 0; i < kTag - 1; ++i)
    block[i] = static_cast<uint8_t>(block[i] << 1 | block[i + 1] >> 7);
  block[kTag - 1] = static_cast<uint8_t>(block[kTag - 1] << 1 ^ (carry ? 0x87 : 0));
}

}  // namespace

bool S2v(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes text, uint8_t* out) {
  static const uint8_t kZero[kTag] = {};
  uint8_t d[kTag], mac[kTag];
  if (!Cmac(key, kZero, kTag, d)) return false;
  for (size_t i = 0; i < adCount; ++i) {
    Double(d);
    if (!Cmac(key, ad[i].data, ad[i].size, mac)) return false;
    for (int j = 0; j < kTag; ++j) d[j] ^= mac[j];
  }
  if (text.size >= kTag) {
    std::unique_ptr<uint8_t[]> last(new uint8_t[text.size]);
    memcpy(last.get(), text.data, text.size);
    for (int j = 0; j < kTag; ++j) last[text.size - kTag + j] ^= d[j];
    return Cmac(key, last.get(), text.size, out);
  }
  Double(d);
  uint8_t padded[kTag] = {};
  if (text.size) memcpy(padded, text.data, text.size);
  padded[text.size] = 0x80;
  for (int j = 0; j < kTag; ++j) padded[j] ^= d[j];
  return Cmac(key, padded, kTag, out);
}

bool SivSeal(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes plain, uint8_t* out) {
  // The cipher computes the tag only when it encrypts something: an empty
  // text's tag is the synthetic IV alone.
  if (plain.size == 0) return S2v(key, ad, adCount, plain, out);
  Cipher cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr));
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!cipher || !context) return false;
  int length = 0;
  return EVP_EncryptInit_ex(context.get(), cipher.get(), nullptr, key, nullptr) == 1 &&
         AddAssociated(context.get(), ad, adCount, true) &&
         EVP_EncryptUpdate(context.get(), out + kTag, &length, plain.data,
                           static_cast<int>(plain.size)) == 1 &&
         EVP_EncryptFinal_ex(context.get(), out + kTag + length, &length) == 1 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kTag, out) == 1;
}

bool SivOpen(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes sealed, uint8_t* plain) {
  if (sealed.size < kTag) return false;
  uint8_t tag[kTag];
  memcpy(tag, sealed.data, kTag);
  size_t textSize = sealed.size - kTag;
  if (textSize == 0) {
    uint8_t expected[kTag];
    return S2v(key, ad, adCount, Bytes{nullptr, 0}, expected) &&
           CRYPTO_memcmp(expected, tag, kTag) == 0;
  }
  Cipher cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr));
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!cipher || !context) return false;
  int length = 0;
  bool opened = EVP_DecryptInit_ex(context.get(), cipher.get(), nullptr, key, nullptr) == 1 &&
                EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kTag, tag) == 1 &&
                AddAssociated(context.get(), ad, adCount, false) &&
                EVP_DecryptUpdate(context.get(), plain, &length, sealed.data + kTag,
                                  static_cast<int>(textSize)) == 1 &&
                EVP_DecryptFinal_ex(context.get(), plain + length, &length) == 1;
  if (!opened) memset(plain, 0, textSize);
  return opened;
}

}  // namespace nts
