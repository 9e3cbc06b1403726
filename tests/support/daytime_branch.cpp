#include "tests/support/daytime_branch.h"

#include "app/query_record.h"
#include "app/sync_run.h"
#include "sources/web_cache_purge.h"

RunOutcome SynchroniseByDaytime(RunSettings& settings, const char16_t* commandLine) {
  RunOutcome outcome;
  outcome.code = ChooseDaytimeUrl(commandLine, settings.server);
  if (outcome.code != 0) return outcome;
  if (!settings.keepCache) PurgeWebCache(settings.server.c_str());
  QueryRecord record;
  AskByDaytime(settings, record);
  return ActOnRecord(record, settings);
}
