#pragma once
// What a query branch returns to the run.
#include <cstdint>

#include "os/base/calendar.h"

using ResultCode = int32_t;

// The program's own codes.
constexpr ResultCode kUnknownAnswer = -1;  // "Unknown answer from server": no usable time came back
constexpr ResultCode kOffsetTooLarge = -2;  // an SNTP offset of an hour or more
constexpr ResultCode kNotNist = -3;         // a daytime answer that is not a NIST line
constexpr ResultCode kNetworkPartFailed =
    -4;  // the run's network part crashed, hung or sent what it may not
constexpr ResultCode kConfinementFailed =
    -5;  // the run could not give up what it does not need: it asked no server
// A time the run cannot trust: before the earliest time possible (the build,
// the last authenticated run), or outside the dates of the certificate that
// vouches for it.
constexpr ResultCode kTimeBeforeFloor = -18;  // the answer is before the earliest time possible
constexpr ResultCode kCertNotYetValid =
    -19;  // the server's time is before its certificate is valid
constexpr ResultCode kCertExpired =
    -20;  // its certificate has expired (by the time checked or the server's)
constexpr ResultCode kDelayTooLarge =
    -23;  // only answers slower than the round-trip delay limit came

constexpr unsigned kReasonCapacity = 256;

struct RunOutcome {
  ResultCode code = 0;
  CalendarTime utc;    // meaningful only when code is 0
  CalendarTime local;  // the same instant in local time
  // A failure in the failing service's own words (the URL service's reason,
  // why the network part failed): UTF-8, terminated, no control character.
  char reason[kReasonCapacity] = {};
  // Of a successful run whose time a certificate vouched for: that time in
  // seconds since 1970, which no later answer may go below; else 0.
  int64_t trustedTime = 0;
  // What the run measured, for the log, JSON and metrics: the clock's offset
  // from the server in seconds (NaN when none was measured), and whether the
  // clock was set.
  double offset = __builtin_nan("");
  bool clockSet = false;
};
