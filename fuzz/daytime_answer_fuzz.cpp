// The daytime branch over any answer bytes (one read takes at most 1022):
// no crash and no undefined behaviour, and the clock is only ever set to a
// valid date and time, exactly when the branch reports success.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/run_settings.h"
#include "os/clock.h"
#include "os/fake_clock.h"
#include "os/fake_url_service.h"
#include "sources/daytime_query.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1022) size = 1022;
  std::string answer(reinterpret_cast<const char*>(data), size);
  CalendarTime start;
  start.year = 2024, start.month = 2, start.day = 29, start.hour = 23, start.minute = 59, start.second = 59;
  start.milliseconds = 999;
  os::fake::Install(start, 0xFFFFF000u);  // the tick counter wraps during the run
  os::fake_url::Install(
      [&answer](const std::u16string&) {
        os::fake_url::Answer reply;
        reply.bytes = answer;
        return reply;
      },
      [] { os::fake::Advance(4500); });
  ResetRunSettings();
  TheRunSettings().keepCache = 1;  // the purge is not what is fuzzed here
  TheRunSettings().server.assign(u"alpha.beta");

  RunOutcome outcome = QueryDaytimeOverHttp(u"");

  if ((outcome.code == 0) != (os::fake::SetCount() == 1)) abort();
  if (os::fake::SetCount() > 0) {
    uint64_t count = 0;
    if (!os::CalendarToCount(os::fake::LastSet(), count)) abort();
  }
  os::fake_url::Uninstall();
  return 0;
}
