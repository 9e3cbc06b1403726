// SNTP answers from arbitrary bytes: no crash and no undefined behaviour; an answer that passes is a real one with a
// finite offset, and one inside the run's limit moves the clock to a valid calendar time. Input: 8 bytes T4, then the
// datagram (cut at 68 bytes like the receive buffer), checked as the answer to the request it echoes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/run_settings.h"
#include "app/time_floor.h"
#include "os/base/calendar.h"
#include "sources/sntp_client.h"
#include "tests/support/era_zero.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 + 32) return 0;
  uint8_t answer[kSntpAnswerCapacity] = {};
  int length = static_cast<int>(size - 8 < sizeof answer ? size - 8 : sizeof answer);
  std::memcpy(answer, data + 8, length);
  SntpExchange exchange;
  exchange.destination = NtpTimestamp::FromNetworkOrder(data);
  if (!ReadSntpAnswer(answer, length, NtpTimestamp::FromNetworkOrder(answer + 24), exchange)) return 0;
  bool real = length >= 48 && (answer[0] & 7) == 4 && (answer[0] >> 6) != 3 && answer[1] >= 1 && answer[1] <= 15;
  if (!real || exchange.transmit.Value() == 0 || !std::isfinite(exchange.offset)) std::abort();
  char why[kReasonCapacity];
  if (!StepWithinLimit(exchange.offset, kSntpStepLimit, why)) return 0;
  CalendarTime c = fake::InEraZero(exchange.destination.AddSeconds(exchange.offset));
  uint64_t count = 0;
  if (!os::CalendarToCount(c, count)) std::abort();
  if ((count / 864000000000ull + 1) % 7 != c.dayOfWeek) std::abort();  // 1601-01-01: a Monday
  return 0;
}
