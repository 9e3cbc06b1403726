#include "app/time_floor.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/build_time.h"
#include "os/base/time_text.h"
#include "platform/registry.h"

namespace {

constexpr const char16_t* kResultKey = u"\\Software\\QV\\horol";
constexpr const char16_t* kFloorValue = u"LastSuccess";

int64_t StoredFloor() {
  uint32_t size = 0, type = 0;
  auto stored = RegistryReadRaw(reg::kCurrentUser, kResultKey, kFloorValue, size, type);
  if (!stored || type != reg::kTypeDword || size != 4) return 0;
  uint32_t seconds = 0;
  memcpy(&seconds, stored.get(), sizeof seconds);
  return seconds;
}

// Whole seconds of a time in words; a time no clock reaches is cut to 10^15 s
// either way rather than converted beyond what 64 bits hold.
int64_t WholeSeconds(double seconds) {
  return static_cast<int64_t>(std::floor(std::fmax(-1e15, std::fmin(seconds, 1e15))));
}

// "the server's time T is S before/after its certificate's ... (D)".
ResultCode Refuse(ResultCode code, double answer, const char* relation, int64_t limit,
                  const char* what, char (&why)[kReasonCapacity]) {
  char told[os::kTimeTextCapacity], span[os::kTimeTextCapacity], bound[os::kTimeTextCapacity];
  os::FormatUnixUtc(WholeSeconds(answer), told);
  os::FormatSpan(WholeSeconds(answer) - limit, span);
  os::FormatUnixUtc(limit, bound);
  snprintf(why, sizeof why, "the server's time %s is %s %s %s (%s)", told, span, relation, what,
           bound);
  return code;
}

}  // namespace

int64_t BuildTime() { return HOROLAN_BUILD_TIME; }

int64_t ReadTimeFloor() {
  int64_t stored = StoredFloor();
  return stored > BuildTime() ? stored : BuildTime();
}

void RaiseTimeFloor(int64_t unixSeconds) {
  // Seconds since 1970 fit 32 bits unsigned until 2106.
  if (unixSeconds <= StoredFloor() || unixSeconds > int64_t{UINT32_MAX}) return;
  RegistryWriteDword(reg::kCurrentUser, kResultKey, kFloorValue,
                     static_cast<uint32_t>(unixSeconds));
}

ResultCode CheckAnswerTime(double answer, int64_t floor, const QueryRecord& record,
                           char (&why)[kReasonCapacity]) {
  if (!(answer >= static_cast<double>(floor)))
    return Refuse(kTimeBeforeFloor, answer, "before", floor, "the earliest time possible", why);
  if (!record.certDates) return 0;
  if (answer < static_cast<double>(record.certNotBefore))
    return Refuse(kCertNotYetValid, answer, "before", record.certNotBefore,
                  "its certificate is valid", why);
  if (answer > static_cast<double>(record.certNotAfter))
    return Refuse(kCertExpired, answer, "after", record.certNotAfter, "its certificate expired",
                  why);
  return 0;
}

bool StepWithinLimit(double offsetSeconds, int64_t limit, char (&why)[kReasonCapacity]) {
  if (std::isfinite(offsetSeconds) &&
      (limit == kMaxStepAny || std::fabs(offsetSeconds) < static_cast<double>(limit)))
    return true;
  if (!std::isfinite(offsetSeconds)) {
    snprintf(why, sizeof why, "the offset is no number");
    return false;
  }
  char span[os::kTimeTextCapacity], bound[32] = "any";
  os::FormatSpan(WholeSeconds(std::trunc(offsetSeconds)), span);
  if (limit != kMaxStepAny) snprintf(bound, sizeof bound, "%" PRId64 " s", limit);
  snprintf(why, sizeof why,
           "the local clock is %s %s the server (offset %+.3f s), the limit is %s: "
           "--max-step=any or #MAXSTEP(ANY) lets the run step it",
           span, offsetSeconds < 0 ? "ahead of" : "behind", offsetSeconds, bound);
  return false;
}
