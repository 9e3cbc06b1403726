#pragma once
// The daytime-over-HTTP branch of the run: one NIST daytime line fetched
// through the URL service, checked, parsed, corrected and set as the clock.
#include <cstdint>

#include "common/run_outcome.h"
#include "os/base/text.h"

// The eleven numbers of a NIST daytime line
// "JJJJJ YR-MO-DA HH:MM:SS TT L H msADV UTC(NIST) *"; a field the scan does
// not reach stays 0.
struct DaytimeAnswer {
  int32_t modifiedJulianDay = 0;
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t daylightSaving = 0;
  int32_t leapSecond = 0;
  int32_t health = 0;
  float advanceMs = 0;
};

// The answer buffer: at most 1022 bytes are read, so at least two zero bytes
// always follow the answer.
constexpr size_t kDaytimeAnswerCapacity = 1024;

struct DaytimeFetch {
  char answer[kDaytimeAnswerCapacity] = {};
  uint32_t size = 0;
  uint32_t fetchedTick = 0;  // the tick count when the fetch returned
};

// The URL choice of the branch: "#SERVER(" of the command line, else the
// server, else the built-in default URL; "http://" in front unless the text
// begins with a scheme ("https://", "ftp://", any case) or holds "http://"
// anywhere; for http, ":13" at the end when the text then holds exactly one
// colon outside an IPv6 literal's brackets. 0 with server rewritten, or
// 0x800C0002 with server left as chosen when the URL would not fit it.
ResultCode ChooseDaytimeUrl(const char16_t* commandLine, os::WideBuffer<260>& server);

// Fetches url from the server (never from the web cache, and leaving no copy:
// the run keeps the copy, see KeepDaytimeCopy) and reads the answer. 0, the
// URL service's code, or -1 when the fetch brought no bytes.
ResultCode FetchDaytimeAnswer(const char16_t* url, DaytimeFetch& fetch);
// Leaves the fetched answer in the web cache as the fetch would have.
void KeepDaytimeCopy(const char16_t* url, const char* answer, uint32_t size);

// The UTC time of a fetched answer: its date and time with deviceNow's
// milliseconds, plus the whole seconds from the fetch's tick to nowTick and
// the announced advance. 0 with utc and count (its 100-ns count) filled; -3
// for an answer without "NIST"; -1 for one without a usable time or whose
// server reports itself wrong or failed.
ResultCode DaytimeAnswerTime(const DaytimeFetch& fetch, const CalendarTime& deviceNow,
                             uint32_t nowTick, CalendarTime& utc, uint64_t& count);

// Scans the 8-bit answer. False when a whole number the scan reached is not
// plain digits (a sign, a blank after a separator) or does not fit its field
// (the C scan would cut it silently into another value).
bool ScanDaytimeAnswer(const char* answer, DaytimeAnswer& fields);

// Whole seconds to add: the whole seconds between the tick marks t0 and t1
// plus the announced advance, summed in single precision and cut toward
// zero; a negative sum counts as 0. False when the advance is no finite
// number or the sum does not fit 32 bits.
bool DaytimeCorrectionSeconds(uint32_t t0, uint32_t t1, float advanceMs, uint32_t& seconds);
