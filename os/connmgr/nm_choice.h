#pragma once
// Which NetworkManager connection profile a "#CONNECT" run brings up. Plain
// records filled from the bus by the provider, chosen here without it.
#include <cstdint>

#include "os/connmgr/connmgr_module.h"

namespace os::connmgr {

// A D-Bus object path; a longer one is never used in cut form.
struct ObjectPath {
  static constexpr int kCapacity = 128;
  char text[kCapacity] = {};
  // False (and the path left empty) when it does not fit.
  bool Assign(const char* path);
  bool Empty() const { return text[0] == 0; }
};

// One stored profile and what the bus says about it now.
struct Profile {
  ObjectPath settings;      // the profile's object
  ObjectPath device;        // a device that can carry it, preferably an idle one; empty: none
  ObjectPath active;        // its active connection; empty when it is down
  bool deviceIdle = false;  // the device carries no other active connection
  char id[HOROLAN_CONNMGR_PROFILE_BYTES] = {};
  char uuid[40] = {};
  char type[40] = {};      // "802-3-ethernet", "gsm", ...
  int32_t priority = 0;    // autoconnect-priority
  uint64_t timestamp = 0;  // last activated, seconds
};

// The profile named by its id or UUID (the first one, up or down, with a
// device or without), or with name empty the best one to bring up: down, on
// an idle device; mobile broadband first, then higher autoconnect priority,
// then the one used last. -1 when there is none.
int ChooseProfile(const Profile* profiles, int count, const char* name);

}  // namespace os::connmgr
