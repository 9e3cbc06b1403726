#include "os/nts/aes_siv.h"

#include <openssl/evp.h>

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
    int done = encrypt ? EVP_EncryptUpdate(context, nullptr, &length, ad[i].data, static_cast<int>(ad[i].size))
                       : EVP_DecryptUpdate(context, nullptr, &length, ad[i].data, static_cast<int>(ad[i].size));
    if (done != 1) return false;
  }
  return true;
}

bool Fits(const Bytes* ad, size_t adCount, Bytes text) {
  constexpr size_t kLimit = 1u << 30;
  for (size_t i = 0; i < adCount; ++i)
    if (ad[i].size > kLimit) return false;
  return text.size <= kLimit;
}

}  // namespace

bool SivSeal(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes plain, uint8_t* out) {
  if (!Fits(ad, adCount, plain)) return false;
  Cipher cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr));
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!cipher || !context) return false;
  int length = 0;
  // An empty text still needs the update call: it is what computes the tag.
  static const uint8_t kNothing = 0;
  return EVP_EncryptInit_ex(context.get(), cipher.get(), nullptr, key, nullptr) == 1 &&
         AddAssociated(context.get(), ad, adCount, true) &&
         EVP_EncryptUpdate(context.get(), out + kTag, &length, plain.size ? plain.data : &kNothing,
                           static_cast<int>(plain.size)) == 1 &&
         EVP_EncryptFinal_ex(context.get(), out + kTag + length, &length) == 1 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kTag, out) == 1;
}

bool SivOpen(const uint8_t* key, const Bytes* ad, size_t adCount, Bytes sealed, uint8_t* plain) {
  if (sealed.size < kTag || !Fits(ad, adCount, sealed)) return false;
  Cipher cipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr));
  CipherContext context(EVP_CIPHER_CTX_new());
  if (!cipher || !context) return false;
  uint8_t tag[kTag];
  memcpy(tag, sealed.data, kTag);
  size_t textSize = sealed.size - kTag;
  uint8_t sink[1];  // where an empty text goes
  int length = 0;
  bool opened = EVP_DecryptInit_ex(context.get(), cipher.get(), nullptr, key, nullptr) == 1 &&
                EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kTag, tag) == 1 &&
                AddAssociated(context.get(), ad, adCount, false) &&
                EVP_DecryptUpdate(context.get(), textSize ? plain : sink, &length, sealed.data + kTag,
                                  static_cast<int>(textSize)) == 1 &&
                EVP_DecryptFinal_ex(context.get(), textSize ? plain + length : sink, &length) == 1;
  if (!opened && textSize) memset(plain, 0, textSize);
  return opened;
}

}  // namespace nts
