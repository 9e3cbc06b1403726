#pragma once
// The OS layer's own connection manager (libhorolan_nm.so), handed out when
// "cellcore.dll" is asked for and no library of that name is found. Besides
// the connection manager's three entry points it exports two of its own,
// looked up as optional ones: a third party's "cellcore.dll" lacks them.
#include <stddef.h>
#include <stdint.h>

extern "C" {

// The profile to bring up: a NetworkManager connection id or UUID (UTF-8);
// null or empty for the best available one. Copied; 0, or nonzero when the
// name does not fit.
typedef int32_t (*HorolanConnMgrUseProfileFn)(const char* profile);

// Why the last establishing failed, in words, into out (capacity bytes with
// the terminator); empty when it did not fail.
typedef void (*HorolanConnMgrReasonFn)(char* out, size_t capacity);

}  // extern "C"

#define HOROLAN_CONNMGR_MODULE "libhorolan_nm.so"
#define HOROLAN_CONNMGR_USE_PROFILE "horolan_connmgr_use_profile"
#define HOROLAN_CONNMGR_REASON "horolan_connmgr_reason"
#define HOROLAN_CONNMGR_PROFILE_BYTES 256
#define HOROLAN_CONNMGR_REASON_BYTES 256
