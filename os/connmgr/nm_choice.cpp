#include "os/connmgr/nm_choice.h"

#include <cstring>

namespace os::connmgr {

namespace {

// The handheld's data connection: a modem's profile is what "#CONNECT" is for.
bool MobileBroadband(const Profile& p) { return !strcmp(p.type, "gsm") || !strcmp(p.type, "cdma"); }

// True when a goes before b.
bool Better(const Profile& a, const Profile& b) {
  if (MobileBroadband(a) != MobileBroadband(b)) return MobileBroadband(a);
  if (a.priority != b.priority) return a.priority > b.priority;
  return a.timestamp > b.timestamp;
}

}  // namespace

bool ObjectPath::Assign(const char* path) {
  size_t length = path ? strlen(path) : 0;
  text[0] = 0;
  if (length >= sizeof text) return false;
  if (length) memcpy(text, path, length + 1);
  return true;
}

int ChooseProfile(const Profile* profiles, int count, const char* name) {
  int best = -1;
  for (int i = 0; i < count; ++i) {
    const Profile& p = profiles[i];
    if (name && *name) {
      if (!strcmp(p.id, name) || !strcmp(p.uuid, name)) return i;
      continue;
    }
    // Bringing up a profile that is up restarts it; one on a busy device
    // takes down what the device carries.
    if (!p.active.Empty() || p.device.Empty() || !p.deviceIdle) continue;
    if (best < 0 || Better(p, profiles[best])) best = i;
  }
  return best;
}

}  // namespace os::connmgr
