#pragma once
// NTPv4 extension fields as NTS uses them: walking the fields that follow
// the 48-byte header, the authenticator's layout, and the checks of an
// answer's structure. No crypto here, so that tests and fuzz targets take it
// alone.
#include <cstddef>
#include <cstdint>

namespace nts {

inline constexpr size_t kHeaderBytes = 48;
inline constexpr size_t kUidBytes = 32;
inline constexpr size_t kNonceBytes = 16;  // what we send; also the least we accept
inline constexpr size_t kTagBytes = 16;
inline constexpr size_t kMinFieldBytes = 16;

enum FieldType : uint16_t {
  kUniqueIdentifier = 0x0104,
  kCookieField = 0x0204,
  kCookiePlaceholder = 0x0304,
  kAuthenticator = 0x0404,
};

struct Field {
  uint16_t type = 0;
  size_t offset = 0;  // where the field (its 4-byte head) starts
  size_t length = 0;  // the whole field, head and padding included
};

enum class Next { Field, End, Malformed };

// The field at data[at]: Field (and at moves past it), End when at is the
// end, or Malformed when the length is not a multiple of 4, is below 16, or
// runs past size.
Next NextField(const uint8_t* data, size_t size, size_t& at, Field& field);

// Where the parts of an authenticator field lie.
struct Authenticator {
  size_t nonceOffset = 0, nonceLength = 0;
  size_t cipherOffset = 0, cipherLength = 0;  // the SIV tag and the encrypted fields
};

// The nonce and ciphertext lengths of the authenticator field fit inside
// it, each padded to 4, the nonce at least 16 bytes, the ciphertext at
// least a tag.
bool ReadAuthenticator(const uint8_t* data, const Field& field, Authenticator& out);

// The structure of an answer: fields filling the datagram after the
// header, exactly one Unique Identifier before the authenticator and equal to
// one of pending[0, uidCount), exactly one authenticator, and it last. Returns
// 0 with authOffset (the length of the associated data), auth and matched (the
// index in pending) set, or a HorolanNtsAnswerFault.
int32_t CheckAnswerLayout(const uint8_t* data, size_t size, const uint8_t (*pending)[kUidBytes],
                          size_t uidCount, size_t& authOffset, Authenticator& auth,
                          size_t& matched);

// Appends one field, its body padded with zeros to a multiple of 4; the new
// end, or 0 when it would not fit capacity.
size_t PutField(uint8_t* out, size_t capacity, size_t at, uint16_t type, const uint8_t* body,
                size_t length);

inline size_t Padded(size_t length) { return (length + 3) & ~size_t{3}; }

}  // namespace nts
