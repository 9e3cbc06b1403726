#pragma once
// The daytime branch of a run alone, in this process: the URL from the
// command line, the purge, the fetch, the answer's time and the clock; no
// split, confinement, message or LastResult. The server text is rewritten in
// place to the URL that was fetched.
#include "app/run_settings.h"
#include "common/run_outcome.h"

RunOutcome SynchroniseByDaytime(RunSettings& settings, const char16_t* commandLine);
