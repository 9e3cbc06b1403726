#include "app/sync_run.h"
#include "sources/daytime_query.h"

RunOutcome SynchroniseByDaytime(RunSettings& settings, const char16_t* commandLine) {
  RunOutcome outcome;
  outcome.code = ChooseDaytimeUrl(commandLine, settings.server);
  if (outcome.code != 0) return outcome;

  DaytimeFetch fetch;
  outcome.code = FetchDaytimeAnswer(settings.server.c_str(), settings.keepCache, fetch);
  if (outcome.code != 0) return outcome;

  CalendarTime now;
  os::ReadUtcClock(now);
  uint64_t count = 0;
  outcome.code = DaytimeAnswerTime(fetch, now, os::TickCountMs(), outcome.utc, count);
  if (outcome.code == 0 && !settings.onlyShow) outcome.code = SetClockTo(outcome.utc);
  return outcome;
}
