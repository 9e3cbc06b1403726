#pragma once
// What a query branch returns to the run.
#include <cstdint>

#include "os/clock/clock.h"

using ResultCode = int32_t;

// The program's own codes.
constexpr ResultCode kUnknownAnswer = -1;  // "Unknown answer from server": no usable time came back
constexpr ResultCode kOffsetTooLarge = -2; // an SNTP offset of an hour or more
constexpr ResultCode kNotNist = -3;        // a daytime answer that is not a NIST line
constexpr ResultCode kNetworkPartFailed = -4;  // the run's network part crashed, hung or sent what it may not
constexpr ResultCode kDelayTooLarge = -23;     // only answers slower than the round-trip delay limit came

constexpr unsigned kReasonCapacity = 256;

struct RunOutcome {
  ResultCode code = 0;
  CalendarTime utc;    // meaningful only when code is 0
  CalendarTime local;  // the same instant in local time
  // A failure in the failing service's own words (the URL service's reason,
  // why the network part failed): UTF-8, terminated, no control character.
  char reason[kReasonCapacity] = {};
};
