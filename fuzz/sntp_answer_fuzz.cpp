// SNTP answers and the four exchange timestamps from arbitrary bytes: no
// crash and no undefined behaviour; an answer that passes the checks always
// gives a finite offset; the calendar conversions stay in range.
//
// Input: 8 bytes T1 (the time we sent), 8 bytes T4 (arrival), then the
// answer datagram as received (cut at 68 bytes like the receive buffer).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "app/sync_run.h"
#include "sources/sntp_client.h"
#include "timecore/calendar.h"
#include "timecore/ntp_timestamp.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckCalendar(const NtpTimestamp& t) {
  CalendarTime c = t.ToCalendar();
  Require(c.month >= 1 && c.month <= 12 && c.day >= 1 && c.day <= 31);
  Require(c.hour <= 23 && c.minute <= 59 && c.second <= 59 && c.milliseconds <= 999 && c.dayOfWeek <= 6);
  Require(DayOfWeek(c.year, c.month, c.day) == c.dayOfWeek);
  // Every instant of the era comes back to the same second.
  Require(NtpTimestamp::FromCalendar(c).seconds == t.seconds);
}

void CheckAnswer(const uint8_t* answer, int length, const NtpTimestamp& sent, const NtpTimestamp& arrival) {
  SntpExchange exchange;
  exchange.destination = arrival;
  if (!ReadSntpAnswer(answer, length, sent, exchange)) return;
  Require(length >= 48);
  Require(std::isfinite(exchange.offset));
  Require(exchange.originate == sent);
  Require(exchange.transmit.Value() != 0);
  Require((answer[0] & 7) == 4 && (answer[0] >> 6) != 3 && answer[1] >= 1 && answer[1] <= 15);
  // What the run does next with an offset inside the limit.
  if (OffsetWithinLimit(exchange.offset)) {
    NtpTimestamp corrected = arrival.AddSeconds(exchange.offset);
    // Exact up to the fraction scale; at the end of the era the seconds wrap.
    double moved = std::fabs(NtpTimestamp::Difference(corrected, arrival) - exchange.offset);
    Require(moved < 1e-6 || std::fabs(moved - 4294967296.0) < 1e-3);
    CheckCalendar(corrected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Require(!OffsetWithinLimit(std::numeric_limits<double>::quiet_NaN()));
  if (size < 16) return 0;
  NtpTimestamp sent = NtpTimestamp::FromNetworkOrder(data);
  NtpTimestamp arrival = NtpTimestamp::FromNetworkOrder(data + 8);
  uint8_t answer[kSntpAnswerCapacity] = {};
  size_t length = size - 16 < sizeof answer ? size - 16 : sizeof answer;
  std::memcpy(answer, data + 16, length);

  CheckAnswer(answer, static_cast<int>(length), sent, arrival);
  // The same answer as the reply to the request it echoes, so the fuzzer
  // reaches the accepting path without guessing 64 bits.
  if (length >= 32) CheckAnswer(answer, static_cast<int>(length), NtpTimestamp::FromNetworkOrder(answer + 24), arrival);

  CheckCalendar(sent);
  CheckCalendar(arrival);
  Require(FractionToMilliseconds(sent.fraction) <= 999);
  double difference = NtpTimestamp::Difference(sent, arrival);
  Require(std::isfinite(difference) && difference == -NtpTimestamp::Difference(arrival, sent));
  // Any double as an offset, NaN and infinities included, stays defined.
  double anyOffset;
  std::memcpy(&anyOffset, data, sizeof anyOffset);
  NtpTimestamp moved = arrival.AddSeconds(anyOffset);
  if (!std::isfinite(anyOffset)) Require(moved == arrival);
  return 0;
}
