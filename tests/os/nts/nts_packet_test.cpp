// AES-SIV against its published vectors, the extension-field walk, and one
// request and answer with a server side built here from the same keys.
#include "os/nts/nts_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "os/nts/aes_siv.h"
#include "os/nts/ext_fields.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes Field(uint16_t type, const Bytes& body) {
  Bytes out(4 + nts::Padded(body.size()));
  nts::PutField(out.data(), out.size(), 0, type, body.data(), body.size());
  return out;
}

Bytes Hex(const char* text) {
  Bytes out;
  for (const char* p = text; p[0] && p[1]; p += 2) {
    while (*p == ' ') ++p;
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  }
  return out;
}

TEST(AesSiv, Rfc5297Vectors) {
  struct Vector {
    const char *key, *ad1, *ad2, *nonce, *plain, *sealed;
  } vectors[] = {
      {"fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
       "101112131415161718191a1b1c1d1e1f2021222324252627", nullptr, nullptr, "112233445566778899aabbccddee",
       "85632d07c6e8f37f950acd320a2ecc9340c02b9690c4dc04daef7f6afe5c"},
      {"7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f",
       "00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100",
       "102030405060708090a0", "09f911029d74e35bd84156c5635688c0",
       "7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d414553",
       "7bdb6e3b432667eb06f4d14bff2fbd0fcb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748ba8af829ea64ad544a272e9c485b62a3fd5c0d"},
  };
  for (const Vector& v : vectors) {
    Bytes key = Hex(v.key), plain = Hex(v.plain), expected = Hex(v.sealed);
    std::vector<Bytes> parts = {Hex(v.ad1)};
    if (v.ad2) parts.push_back(Hex(v.ad2));
    if (v.nonce) parts.push_back(Hex(v.nonce));
    std::vector<nts::Bytes> ad;
    for (const Bytes& part : parts) ad.push_back({part.data(), part.size()});
    Bytes sealed(plain.size() + 16);
    ASSERT_TRUE(nts::SivSeal(key.data(), ad.data(), ad.size(), {plain.data(), plain.size()}, sealed.data()));
    EXPECT_EQ(sealed, expected);
    Bytes iv(16);  // the synthetic IV alone, as an empty text gets it
    ASSERT_TRUE(nts::S2v(key.data(), ad.data(), ad.size(), {plain.data(), plain.size()}, iv.data()));
    EXPECT_EQ(iv, Bytes(expected.begin(), expected.begin() + 16));
    Bytes opened(plain.size());
    ASSERT_TRUE(nts::SivOpen(key.data(), ad.data(), ad.size(), {sealed.data(), sealed.size()}, opened.data()));
    EXPECT_EQ(opened, plain);
    sealed[0] ^= 1;
    EXPECT_FALSE(nts::SivOpen(key.data(), ad.data(), ad.size(), {sealed.data(), sealed.size()}, opened.data()));
    EXPECT_EQ(opened, Bytes(plain.size(), 0));
  }
}

TEST(AesSiv, SyntheticIvOfASixteenByteText) {
  Bytes key(32, 3), ad(20, 4), plain(16, 5), sealed(32), iv(16);
  nts::Bytes parts[] = {{ad.data(), ad.size()}};
  ASSERT_TRUE(nts::SivSeal(key.data(), parts, 1, {plain.data(), plain.size()}, sealed.data()));
  ASSERT_TRUE(nts::S2v(key.data(), parts, 1, {plain.data(), plain.size()}, iv.data()));
  EXPECT_EQ(iv, Bytes(sealed.begin(), sealed.begin() + 16));
}

TEST(ExtFields, LengthsAreWholeFieldsOfAtLeast16InsideTheDatagram) {
  struct Case {
    Bytes data;
    nts::Next first;
  } cases[] = {
      {{}, nts::Next::End},
      {{1, 4, 0}, nts::Next::Malformed},
      {Bytes{1, 4, 0, 12} + Bytes(8, 0), nts::Next::Malformed},
      {Bytes{1, 4, 0, 18} + Bytes(14, 0), nts::Next::Malformed},
      {Bytes{1, 4, 0, 20} + Bytes(15, 0), nts::Next::Malformed},
      {Bytes{1, 4, 0, 16} + Bytes(12, 0), nts::Next::Field},
  };
  for (const Case& c : cases) {
    size_t at = 0;
    nts::Field field;
    EXPECT_EQ(nts::NextField(c.data.data(), c.data.size(), at, field), c.first) << c.data.size();
  }
}

// A client session with fixed keys and one cookie, and the server side of it.
struct Exchange {
  HorolanNtsSession session{};
  Bytes request = Bytes(HOROLAN_NTS_MAX_REQUEST_BYTES);
  Bytes header = Bytes(48, 0);
  Exchange() {
    session.size = sizeof session;
    memset(session.c2sKey, 1, sizeof session.c2sKey);
    memset(session.s2cKey, 2, sizeof session.s2cKey);
    session.cookieCount = 1;
    session.cookieLength[0] = 100;
    memset(session.cookie[0], 0xC0, 100);
    header[0] = 0x23;  // version 4, client
  }
  int32_t Build() {
    size_t length = 0;
    int32_t result = nts::BuildRequest(session, header.data(), request.data(), request.size(), length);
    request.resize(length);
    return result;
  }
  Bytes Uid() const { return Bytes(request.begin() + 52, request.begin() + 84); }
  // The server's answer: header, the fields given, then an authenticator
  // over them with this nonce length and plain as the encrypted fields.
  Bytes Answer(const Bytes& fields, const Bytes& plain, size_t nonceLength = 16) const {
    Bytes answer = Bytes(request.begin(), request.begin() + 48) + fields;
    answer[0] = 0x24;
    Bytes nonce(nonceLength, 0x5A), sealed(plain.size() + 16);
    nts::Bytes ad[] = {{answer.data(), answer.size()}, {nonce.data(), nonce.size()}};
    nts::SivSeal(session.s2cKey, ad, 2, {plain.data(), plain.size()}, sealed.data());
    Bytes lengths = {0, uint8_t(nonceLength), uint8_t(sealed.size() >> 8), uint8_t(sealed.size())};
    Bytes body = lengths + nonce;
    body.resize(nts::Padded(body.size()));
    return answer + Field(nts::kAuthenticator, body + sealed);
  }
  Bytes GoodAnswer() const { return Answer(Field(nts::kUniqueIdentifier, Uid()), Field(nts::kCookieField, Bytes(96, 7))); }
  int32_t Verify(const Bytes& answer) { return nts::VerifyAnswer(session, answer.data(), answer.size()); }
};

TEST(NtsPacket, RequestCarriesUidCookieAndAnAuthenticatorMadeWithTheClientKey) {
  Exchange exchange;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  const Bytes& request = exchange.request;
  ASSERT_EQ(request.size(), 48u + 36 + 104 + 40);
  EXPECT_EQ(exchange.session.cookieCount, 0u);  // a cookie is sent once
  EXPECT_EQ(Bytes(request.begin() + 48, request.begin() + 52), (Bytes{1, 4, 0, 36}));
  EXPECT_EQ(Bytes(request.begin() + 84, request.begin() + 88), (Bytes{2, 4, 0, 104}));
  EXPECT_EQ(Bytes(request.begin() + 88, request.begin() + 188), Bytes(100, 0xC0));
  EXPECT_EQ(Bytes(request.begin() + 188, request.begin() + 196), (Bytes{4, 4, 0, 40, 0, 16, 0, 16}));
  for (uint8_t key : {1, 2}) {
    Bytes keyBytes(32, key), plain;
    nts::Bytes ad[] = {{request.data(), 188}, {request.data() + 196, 16}};
    EXPECT_EQ(nts::SivOpen(keyBytes.data(), ad, 2, {request.data() + 212, 16}, plain.data()), key == 1);
  }
  EXPECT_EQ(exchange.Build(), HOROLAN_NTS_NO_COOKIE);
}

TEST(NtsPacket, RequestArguments) {
  struct Case {
    uint8_t first;
    size_t capacity;
    uint32_t cookies;
    uint16_t cookieLength;
    int32_t result;
  } cases[] = {{0x1B, 228, 1, 100, HOROLAN_NTS_BAD_ARGUMENT}, {0x24, 228, 1, 100, HOROLAN_NTS_BAD_ARGUMENT},
               {0x23, 227, 1, 100, HOROLAN_NTS_BAD_ARGUMENT}, {0x23, 228, 1, 100, HOROLAN_NTS_OK},
               {0x23, 400, 9, 100, HOROLAN_NTS_NO_COOKIE},     {0x23, 400, 1, 0, HOROLAN_NTS_NO_COOKIE},
               {0x23, 400, 1, 257, HOROLAN_NTS_NO_COOKIE},     {0x23, 384, 1, 256, HOROLAN_NTS_OK}};
  for (const Case& c : cases) {
    Exchange exchange;
    exchange.header[0] = c.first;
    exchange.request.resize(c.capacity);
    exchange.session.cookieCount = c.cookies;
    exchange.session.cookieLength[std::min(c.cookies, 8u) - 1] = c.cookieLength;
    EXPECT_EQ(exchange.Build(), c.result) << int(c.first) << " " << c.capacity << " " << c.cookieLength;
  }
}

TEST(NtsPacket, TheAuthenticAnswerVerifiesOnceAndBringsItsCookie) {
  Exchange exchange;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  EXPECT_EQ(exchange.Verify(exchange.GoodAnswer()), HOROLAN_NTS_OK);
  ASSERT_EQ(exchange.session.cookieCount, 1u);
  EXPECT_EQ(exchange.session.cookieLength[0], 96);
  EXPECT_EQ(exchange.session.cookie[0][95], 7);
  EXPECT_EQ(exchange.Verify(exchange.GoodAnswer()), HOROLAN_NTS_NOT_AUTHENTIC);
  EXPECT_EQ(exchange.session.detail, HOROLAN_NTS_ANSWER_NO_REQUEST);
}

TEST(NtsPacket, EveryFlippedBitIsRefused) {
  Exchange exchange;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  Bytes answer = exchange.GoodAnswer();
  for (size_t i = 0; i < answer.size(); ++i) {
    for (uint8_t bit : {0x01, 0x80}) {
      Bytes flipped = answer;
      flipped[i] ^= bit;
      EXPECT_EQ(exchange.Verify(flipped), HOROLAN_NTS_NOT_AUTHENTIC) << i;
    }
  }
  EXPECT_EQ(exchange.session.cookieCount, 0u);
  EXPECT_EQ(exchange.Verify(answer), HOROLAN_NTS_OK);  // still pending after the forgeries
}

TEST(NtsPacket, ForgedAnswersAreRefusedWithTheirFault) {
  Exchange exchange;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  Bytes uid = Field(nts::kUniqueIdentifier, exchange.Uid());
  Bytes cookie = Field(nts::kCookieField, Bytes(96, 7));
  Bytes good = exchange.GoodAnswer();
  Bytes longCipher = good, shortCipher = good;
  longCipher[91] += 4;  // the ciphertext length: past the field
  shortCipher[91] = 8;  // less than a tag
  Bytes other = exchange.Uid();
  other[31] ^= 1;
  struct Case {
    const char* what;
    Bytes answer;
    int32_t fault;
  } cases[] = {
      {"stripped", Bytes(good.begin(), good.begin() + 48), HOROLAN_NTS_ANSWER_NO_FIELDS},
      {"longer than a datagram", Bytes(65536, 0), HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"short header", Bytes(good.begin(), good.begin() + 47), HOROLAN_NTS_ANSWER_BAD_FIELDS},
      {"cut by 4", Bytes(good.begin(), good.end() - 4), HOROLAN_NTS_ANSWER_BAD_FIELDS},
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
  for (const Case& c : cases) {
    EXPECT_EQ(exchange.Verify(c.answer), HOROLAN_NTS_NOT_AUTHENTIC) << c.what;
    EXPECT_EQ(exchange.session.detail, c.fault) << c.what;
  }
  EXPECT_EQ(exchange.session.cookieCount, 0u);
  EXPECT_EQ(exchange.Verify(exchange.Answer(uid, {}, 20)), HOROLAN_NTS_OK);  // no new cookie, longer nonce: fine

  // The answer to an earlier request, replayed to the next one.
  exchange.session.cookieCount = 1;
  exchange.session.cookieLength[0] = 100;
  ASSERT_EQ(exchange.Build(), HOROLAN_NTS_OK);
  EXPECT_EQ(exchange.Verify(good), HOROLAN_NTS_NOT_AUTHENTIC);
  EXPECT_EQ(exchange.session.detail, HOROLAN_NTS_ANSWER_WRONG_UID);
}

}  // namespace
