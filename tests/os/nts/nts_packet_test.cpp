// AES-SIV against its published vectors; requests and answers with a server side built here from the same keys.
#include "os/nts/nts_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "os/nts/aes_siv.h"
#include "os/nts/ext_fields.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes Field(uint16_t type, const Bytes& body) {
  Bytes out(4 + nts::Padded(body.size()));
  nts::PutField(out.data(), out.size(), 0, type, body.data(), body.size());
  return out;
}
Bytes Hex(const char* text) {
  Bytes out;
  for (const char* p = text; p && p[0] && p[1]; p += 2) out.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

TEST(AesSiv, Rfc5297VectorsAndTheIvOfAnEmptyOrSixteenByteText) {
  const char* vectors[][6] = {
      {"fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", "101112131415161718191a1b1c1d1e1f2021222324252627",
       nullptr, nullptr, "112233445566778899aabbccddee", "85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c"},
      {"7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
       "00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100", "102030405060708090a0",
       "09f911029d74e35bd84156c5635688c0",
       "7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d414553",
       "7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748ba8af829ea64ad544a272e9c485b62a3fd5c0d"},
      // The S2V path of a text of exactly one block, checked against the cipher's own tag.
      {"0303030303030303030303030303030303030303030303030303030303030303", "0404040404040404", nullptr, nullptr,
       "05050505050505050505050505050505", nullptr},
  };
  for (const auto& v : vectors) {
    Bytes key = Hex(v[0]), plain = Hex(v[4]), sealed(plain.size() + 16), iv(16), opened(plain.size());
    std::vector<Bytes> parts = {Hex(v[1]), Hex(v[2]), Hex(v[3])};
    std::vector<nts::Bytes> ad;
    for (const Bytes& part : parts) if (!part.empty()) ad.push_back({part.data(), part.size()});
    ASSERT_TRUE(nts::SivSeal(key.data(), ad.data(), ad.size(), {plain.data(), plain.size()}, sealed.data()));
    EXPECT_TRUE(!v[5] || sealed == Hex(v[5]));
    ASSERT_TRUE(nts::S2v(key.data(), ad.data(), ad.size(), {plain.data(), plain.size()}, iv.data()));
    EXPECT_EQ(iv, Bytes(sealed.begin(), sealed.begin() + 16));
    ASSERT_TRUE(nts::SivOpen(key.data(), ad.data(), ad.size(), {sealed.data(), sealed.size()}, opened.data()));
    EXPECT_EQ(opened, plain);
    sealed.back() ^= 1;
    EXPECT_FALSE(nts::SivOpen(key.data(), ad.data(), ad.size(), {sealed.data(), sealed.size()}, opened.data()));
    EXPECT_EQ(opened, Bytes(plain.size(), 0));
  }
}

// A client session with fixed keys and one cookie, and the server side of it.
struct Exchange {
  HorolanNtsSession session{};
  Bytes request = Bytes(HOROLAN_NTS_MAX_REQUEST_BYTES);
  Bytes header = Bytes{0x23} + Bytes(47, 0);  // version 4, client
  Exchange() {
    session.size = sizeof session;
    memset(session.c2sKey, 1, sizeof session.c2sKey);
    memset(session.s2cKey, 2, sizeof session.s2cKey);
    session.cookieCount = 1;
    session.cookieLength[0] = 100;
  }
  int32_t Build() {
    size_t length = 0;
    int32_t result = nts::BuildRequest(session, header.data(), request.data(), request.size(), length);
    request.resize(length);
    return result;
  }
  Bytes Uid() const { return Bytes(request.begin() + 52, request.begin() + 84); }
  // The server's answer: header, fields, then an authenticator over them with this nonce and plain encrypted.
  Bytes Answer(const Bytes& fields, const Bytes& plain, size_t nonceLength = 16) const {
    Bytes answer = Bytes(request.begin(), request.begin() + 48) + fields;
    Bytes nonce(nonceLength, 0x5A), sealed(plain.size() + 16);
    nts::Bytes ad[] = {{answer.data(), answer.size()}, {nonce.data(), nonce.size()}};
    nts::SivSeal(session.s2cKey, ad, 2, {plain.data(), plain.size()}, sealed.data());
    Bytes body = Bytes{0, uint8_t(nonceLength), 0, uint8_t(sealed.size())} + nonce;
    body.resize(nts::Padded(body.size()));
    return answer + Field(nts::kAuthenticator, body + sealed);
  }
  int32_t Verify(const Bytes& answer) { return nts::VerifyAnswer(session, answer.data(), answer.size()); }
};

TEST(NtsPacket, RequestsSpendOneCookieEachAndNeedRoomAndAnNtpV4ClientHeader) {
  const struct { uint8_t first; size_t capacity; uint32_t cookies; uint16_t cookieLength; int32_t result; } cases[] = {
      {0x1B, 228, 1, 100, HOROLAN_NTS_BAD_ARGUMENT}, {0x24, 228, 1, 100, HOROLAN_NTS_BAD_ARGUMENT},
      {0x23, 227, 1, 100, HOROLAN_NTS_BAD_ARGUMENT}, {0x23, 228, 1, 100, HOROLAN_NTS_OK},
      {0x23, 400, 9, 100, HOROLAN_NTS_NO_COOKIE},    {0x23, 400, 1, 0, HOROLAN_NTS_NO_COOKIE},
      {0x23, 400, 1, 257, HOROLAN_NTS_NO_COOKIE},    {0x23, 384, 1, 256, HOROLAN_NTS_OK},
      {0x23, 400, 0, 100, HOROLAN_NTS_NO_COOKIE}};
  for (const auto& c : cases) {
    Exchange exchange;
    exchange.header[0] = c.first;
    exchange.request.resize(c.capacity);
    exchange.session.cookieCount = c.cookies;
    exchange.session.cookieLength[std::clamp(c.cookies, 1u, 8u) - 1] = c.cookieLength;
    EXPECT_EQ(exchange.Build(), c.result) << int(c.first) << " " << c.capacity << " " << c.cookieLength;
    EXPECT_TRUE(c.result != HOROLAN_NTS_OK || exchange.session.cookieCount == 0u);  // never sent twice
  }
}

TEST(NtsPacket, OnlyTheAuthenticAnswerToAnOutstandingRequestPassesOnce) {
  Exchange exchange;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  Bytes uid = Field(nts::kUniqueIdentifier, exchange.Uid()), cookie = Field(nts::kCookieField, Bytes(96, 7));
  Bytes good = exchange.Answer(uid, cookie), longCipher = good, shortCipher = good, other = exchange.Uid();
  longCipher[91] += 4;  // the ciphertext length: past the field
  shortCipher[91] = 8;  // less than a tag
  other[31] ^= 1;
  const struct { const char* what; Bytes answer; int32_t fault; } cases[] = {
      {"stripped", Bytes(good.begin(), good.begin() + 48), HOROLAN_NTS_ANSWER_NO_FIELDS},
      {"longer than a datagram", Bytes(65536, 0), HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"short header", Bytes(good.begin(), good.begin() + 47), HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"cut by 4", Bytes(good.begin(), good.end() - 4), HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"a field of 12", Bytes(good.begin(), good.begin() + 48) + Bytes{9, 9, 0, 12} + Bytes(8, 0),
       HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"no authenticator", Bytes(good.begin(), good.begin() + 84), HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR},
      {"field after the authenticator", good + Field(0x0999, Bytes(12, 0)), HOROLAN_NTS_ANSWER_AFTER_AUTHENTICATOR},
      {"two authenticators", good + Bytes(good.begin() + 84, good.end()), HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR},
      {"other UID", exchange.Answer(Field(nts::kUniqueIdentifier, other), cookie), HOROLAN_NTS_ANSWER_WRONG_UID},
      {"long UID", exchange.Answer(Field(nts::kUniqueIdentifier, exchange.Uid() + Bytes(4, 0)), cookie),
       HOROLAN_NTS_ANSWER_WRONG_UID},
      {"no UID", exchange.Answer(Field(0x0999, Bytes(32, 0)), cookie), HOROLAN_NTS_ANSWER_NO_UID},
      {"two UIDs", exchange.Answer(uid + uid, cookie), HOROLAN_NTS_ANSWER_NO_UID},
      {"UID only in the encrypted part", exchange.Answer({}, uid + cookie), HOROLAN_NTS_ANSWER_NO_UID},
      {"ciphertext past the field", longCipher, HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR},
      {"ciphertext shorter than a tag", shortCipher, HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR},
      {"nonce of 12", exchange.Answer(uid, cookie, 12), HOROLAN_NTS_ANSWER_NO_AUTHENTICATOR},
      {"malformed plaintext", exchange.Answer(uid, Bytes{2, 4, 0, 10, 0, 0}), HOROLAN_NTS_ANSWER_BAD_PLAINTEXT},
  };
  auto fault = [&](const Bytes& answer) {  // why an answer is refused (0: it passes, or fails otherwise)
    return exchange.Verify(answer) == HOROLAN_NTS_NOT_AUTHENTIC ? exchange.session.detail : 0;
  };
  for (const auto& c : cases) EXPECT_EQ(fault(c.answer), c.fault) << c.what;
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes flipped = good;
    flipped[i] ^= i % 2 ? 0x80 : 0x01;
    EXPECT_EQ(exchange.Verify(flipped), HOROLAN_NTS_NOT_AUTHENTIC) << i;
  }
  EXPECT_EQ(exchange.session.cookieCount, 0u);
  // Still pending after every forgery; the answer brings its cookie, once.
  EXPECT_EQ(exchange.Verify(good), HOROLAN_NTS_OK);
  EXPECT_TRUE(exchange.session.cookieCount == 1u && exchange.session.cookie[0][95] == 7);
  EXPECT_EQ(fault(good), HOROLAN_NTS_ANSWER_NO_REQUEST);
  // Replayed to the next request; an answer without a new cookie and a longer nonce is fine.
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  EXPECT_EQ(fault(good), HOROLAN_NTS_ANSWER_WRONG_UID);
  EXPECT_EQ(exchange.Verify(exchange.Answer(Field(nts::kUniqueIdentifier, exchange.Uid()), {}, 20)), HOROLAN_NTS_OK);
  // A resend leaves the earlier request answerable; the answer to the older one passes, once.
  exchange.session.cookieCount = 2;
  exchange.session.cookieLength[0] = exchange.session.cookieLength[1] = 100;
  exchange.request.resize(HOROLAN_NTS_MAX_REQUEST_BYTES);
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  Bytes older = exchange.Answer(Field(nts::kUniqueIdentifier, exchange.Uid()), {});
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  EXPECT_EQ(exchange.session.requestPending, 2u);
  EXPECT_EQ(exchange.Verify(older), HOROLAN_NTS_OK);
  EXPECT_EQ(fault(older), HOROLAN_NTS_ANSWER_WRONG_UID);
  EXPECT_EQ(exchange.session.requestPending, 1u);
  Bytes newer = exchange.Answer(Field(nts::kUniqueIdentifier, exchange.Uid()), {});
  EXPECT_EQ(exchange.Verify(newer), HOROLAN_NTS_OK);
}

}  // namespace
