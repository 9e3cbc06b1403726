#pragma once
// The run's limit on a measured clock offset: the clock is corrected only
// by less than an hour either way.

// True only for a finite offset whose magnitude is below 3600 s; false for
// 3600 s or more and for not-a-number.
bool OffsetWithinLimit(double offsetSeconds);
