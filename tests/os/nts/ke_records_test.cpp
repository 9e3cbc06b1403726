// The key-exchange reply parser against the record formats of NTS-KE.
#include "os/nts/ke_records.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes Record(uint16_t head, const Bytes& body) {
  return Join({{uint8_t(head >> 8), uint8_t(head), uint8_t(body.size() >> 8), uint8_t(body.size())}, body});
}

const Bytes kNext = Record(0x8001, {0, 0}), kAead = Record(0x8004, {0, 15}), kEnd = Record(0x8000, {});
const Bytes kCookie = Record(0x0005, Bytes(100, 0xC0));

// The parse of a reply received whole (closed: the server then closed).
HorolanNtsSession Parse(const Bytes& reply, bool closed = false, const char* host = "ke.example") {
  HorolanNtsSession session{};  // a decided reply sets result
  if (!nts::ParseKeReply(reply.data(), reply.size(), closed, host, session)) session.result = -1;
  return session;
}

TEST(KeRecords, AGoodReplyGivesCookiesServerAndPortAndAnyShorterPrefixIsUndecided) {
  Bytes reply = Join({Record(0x0444, {1}), kNext, kAead, kCookie, Record(5, Bytes(256, 2)), Record(5, Bytes(257, 3)),
                      Record(6, Bytes(255, 'n')), Record(0x8007, {0x12, 0x34}), kEnd, Bytes{0xFF}});
  HorolanNtsSession session = Parse(reply);
  ASSERT_EQ(session.result, HOROLAN_NTS_OK);
  ASSERT_EQ(session.cookieCount, 2u);  // the 257-byte cookie is not kept
  EXPECT_EQ(std::tuple(session.cookieLength[1], session.cookie[1][255], session.ntpPort), std::tuple(256, 2, 0x1234));
  EXPECT_EQ(session.ntpServer, std::string(255, 'n'));
  for (size_t cut = 0; cut + 1 < reply.size(); ++cut) {
    Bytes prefix(reply.begin(), reply.begin() + cut);
    EXPECT_EQ(Parse(prefix).result, -1) << cut;
    EXPECT_EQ(Parse(prefix, true).result, HOROLAN_NTS_TIMEOUT) << cut;  // cut off before End
  }
  // No server or port named: the key-exchange host and 123; at most eight cookies.
  Bytes many = Join({kNext, kAead});
  for (int i = 0; i < 9; ++i) many = Join({many, kCookie});
  session = Parse(Join({many, kEnd}));
  EXPECT_EQ(std::tuple(session.cookieCount, std::string(session.ntpServer), session.ntpPort),
            std::tuple(8u, "ke.example", 123));
  EXPECT_EQ(Parse(Join({many, kEnd}), false, std::string(255, 'h').c_str()).result, HOROLAN_NTS_OK);
  EXPECT_EQ(Parse(Join({many, kEnd}), false, std::string(256, 'h').c_str()).result, HOROLAN_NTS_BAD_ARGUMENT);
}

TEST(KeRecords, RefusedReplies) {
  const struct { const char* what; Bytes reply; int32_t result, detail; } cases[] = {
      {"error record", Join({kNext, Record(0x8002, {0, 1}), kAead, kCookie, kEnd}), HOROLAN_NTS_KE_ERROR, 1},
      {"first error counts", Join({Record(0x8002, {0, 2}), Record(0x8002, {0, 1}), kEnd}), HOROLAN_NTS_KE_ERROR, 2},
      {"error then close", Record(0x8002, {0, 2}), HOROLAN_NTS_KE_ERROR, 2},
      {"warning then close", Record(0x8003, {1, 0}), HOROLAN_NTS_KE_WARNING, 256},
      {"warning record", Join({kNext, kAead, kCookie, Record(0x8003, {0, 7}), kEnd}), HOROLAN_NTS_KE_WARNING, 7},
      {"error body of 3", Join({Record(0x8002, {0, 1, 2}), kEnd}), HOROLAN_NTS_BAD_REPLY, 2},
      {"no next protocol", Join({kAead, kCookie, kEnd}), HOROLAN_NTS_BAD_REPLY, 1},
      {"two next protocols", Join({kNext, kNext, kAead, kCookie, kEnd}), HOROLAN_NTS_BAD_REPLY, 1},
      {"odd next protocol", Join({Record(0x8001, {0, 0, 0}), kAead, kCookie, kEnd}), HOROLAN_NTS_BAD_REPLY, 1},
      {"no NTPv4", Join({Record(0x8001, {}), kAead, kCookie, kEnd}), HOROLAN_NTS_NO_SERVICE, -1},
      {"other protocol", Join({Record(0x8001, {0x80, 0}), kAead, kCookie, kEnd}), HOROLAN_NTS_NO_SERVICE, -1},
      {"no AEAD", Join({kNext, kCookie, kEnd}), HOROLAN_NTS_NO_AEAD, 0},
      {"other AEAD", Join({kNext, Record(0x8004, {0, 16, 0, 1}), kCookie, kEnd}), HOROLAN_NTS_NO_AEAD, 0},
      {"two AEADs", Join({kNext, kAead, kAead, kCookie, kEnd}), HOROLAN_NTS_BAD_REPLY, 4},
      {"odd AEAD", Join({kNext, Record(0x8004, {0, 15, 0}), kCookie, kEnd}), HOROLAN_NTS_BAD_REPLY, 4},
      {"no cookie", Join({kNext, kAead, Record(5, {}), kEnd}), HOROLAN_NTS_NO_COOKIE, 0},
      {"unknown critical", Join({kNext, kAead, kCookie, Record(0xC000, {}), kEnd}), HOROLAN_NTS_BAD_REPLY, 0x4000},
      {"end with a body", Join({kNext, kAead, kCookie, Record(0x8000, {0, 0})}), HOROLAN_NTS_BAD_REPLY, 0},
      {"server with a blank", Join({kNext, kAead, kCookie, Record(6, {'a', ' '}), kEnd}), HOROLAN_NTS_BAD_REPLY, 6},
      {"server with DEL", Join({kNext, kAead, kCookie, Record(6, {'a', 0x7F}), kEnd}), HOROLAN_NTS_BAD_REPLY, 6},
      {"empty server", Join({kNext, kAead, kCookie, Record(6, {}), kEnd}), HOROLAN_NTS_BAD_REPLY, 6},
      {"server too long", Join({kNext, kAead, kCookie, Record(6, Bytes(256, 'a')), kEnd}), HOROLAN_NTS_BAD_REPLY, 6},
      {"two servers", Join({kNext, kAead, kCookie, Record(6, {'a'}), Record(6, {'a'}), kEnd}), HOROLAN_NTS_BAD_REPLY, 6},
      {"port 0", Join({kNext, kAead, kCookie, Record(7, {0, 0}), kEnd}), HOROLAN_NTS_BAD_REPLY, 7},
      {"port of 3 bytes", Join({kNext, kAead, kCookie, Record(7, {0, 0, 1}), kEnd}), HOROLAN_NTS_BAD_REPLY, 7},
      {"two ports", Join({kNext, kAead, kCookie, Record(7, {0, 1}), Record(7, {0, 1}), kEnd}), HOROLAN_NTS_BAD_REPLY, 7},
  };
  for (const auto& c : cases) {
    HorolanNtsSession session = Parse(c.reply);
    if (session.result == -1) session = Parse(c.reply, true);
    EXPECT_EQ(std::tuple(session.result, session.detail), std::tuple(c.result, c.detail)) << c.what;
  }
}

}  // namespace
