// The connection manager's entry points over NetworkManager on the system
// D-Bus (sd-bus). Establishing brings up one profile only when there is no
// default route through an active connection, and waits for it within the
// caller's limit; releasing takes down only what establishing brought up.
// Every call opens its own bus connection: nothing stays open across the
// query, and a failure leaves nothing behind.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "os/connmgr/connmgr_module.h"
#include "os/connmgr/nm_choice.h"

namespace os::connmgr {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
constexpr const char* kSettings = "org.freedesktop.NetworkManager.Settings";
constexpr const char* kActive = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";

// NetworkManager's active-connection states, in the only order they pass.
constexpr uint32_t kActivated = 2;
constexpr uint32_t kDeactivating = 3;
constexpr uint32_t kDeactivated = 4;
constexpr uint32_t kDeviceFailed = 120;

// The platform's results and status words.
constexpr int32_t kOk = 0;
constexpr int32_t kFailed = static_cast<int32_t>(0x80004005);
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);
constexpr int32_t kTimedOut = static_cast<int32_t>(0x800705B4);
constexpr uint32_t kStatusConnected = 0x10;
constexpr uint32_t kStatusDisconnected = 0x20;

// Taking a connection down is quick; a manager that hangs must not hold the
// run's end for long.
constexpr uint64_t kReleaseLimitUsec = 5000000;
constexpr int kMaxProfiles = 64;
constexpr int kMaxDevices = 32;

// The one connection handle of the process points here. active: what
// establishing brought up; empty when it found the connection already there.
struct Connection {
  ObjectPath active;
};
Connection g_connection;
char g_profile[HOROLAN_CONNMGR_PROFILE_BYTES];
bool g_profileTooLong = false;
char g_reason[HOROLAN_CONNMGR_REASON_BYTES];

__attribute__((format(printf, 1, 2))) int32_t Fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_reason, sizeof g_reason, format, args);
  va_end(args);
  return kFailed;
}

uint64_t NowUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

// Owners that let go on every path.
template <typename T, auto Free>
struct Owned {
  T* p = nullptr;
  Owned() = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Free(p); }
};
using Bus = Owned<sd_bus, sd_bus_flush_close_unref>;
using Message = Owned<sd_bus_message, sd_bus_message_unref>;
using Slot = Owned<sd_bus_slot, sd_bus_slot_unref>;
struct BusError {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  BusError() = default;
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  ~BusError() { sd_bus_error_free(&e); }
};

// NetworkManager's words for a failed call, or the system's.
int32_t FailCall(const char* what, int r, const BusError& error) {
  if (sd_bus_error_has_name(&error.e, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
      sd_bus_error_has_name(&error.e, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
    return Fail("NetworkManager is not running");
  if (r == -ETIMEDOUT) return Fail("NetworkManager did not answer (%s)", what);
  return Fail("%s: %s", what, error.e.message ? error.e.message : strerror(-r));
}

int32_t Open(Bus& bus, uint64_t limitUsec) {
  int r = sd_bus_open_system(&bus.p);
  if (r < 0) return Fail("no system bus, so no NetworkManager: %s", strerror(-r));
  sd_bus_set_method_call_timeout(bus.p, limitUsec);
  return kOk;
}

// Room for a unique bus name: NetworkManager's, as the sender of its answers.
constexpr size_t kBusNameBytes = 64;

// Property name of interface at path, of D-Bus type 'o' or 'u', into out;
// with sender, also who answered.
int GetPath(sd_bus* bus, const char* path, const char* interface, const char* name, ObjectPath& out,
            BusError& error, char (*sender)[kBusNameBytes] = nullptr) {
  Message reply;
  const char* value = nullptr;
  int r = sd_bus_get_property(bus, kService, path, interface, name, &error.e, &reply.p, "o");
  if (r >= 0) r = sd_bus_message_read(reply.p, "o", &value);
  if (r >= 0 && !out.Assign(value)) r = -ENAMETOOLONG;
  if (r >= 0 && sender) snprintf(*sender, sizeof *sender, "%s", sd_bus_message_get_sender(reply.p));
  return r;
}
int GetNumber(sd_bus* bus, const char* path, const char* interface, const char* name, uint32_t& out,
              BusError& error) {
  return sd_bus_get_property_trivial(bus, kService, path, interface, name, &error.e, 'u', &out);
}

// An array of object paths (the message is at it) into out; those beyond
// capacity or too long are left out. The count, or a negative errno.
int ReadPaths(sd_bus_message* m, ObjectPath* out, int capacity) {
  int r = sd_bus_message_enter_container(m, 'a', "o");
  int count = 0;
  const char* path = nullptr;
  while (r >= 0 && (r = sd_bus_message_read(m, "o", &path)) > 0)
    if (count < capacity && out[count].Assign(path)) ++count;
  if (r >= 0) r = sd_bus_message_exit_container(m);
  return r < 0 ? r : count;
}
int GetPaths(sd_bus* bus, const char* path, const char* interface, const char* name,
             ObjectPath* out, int capacity, BusError& error) {
  Message reply;
  int r = sd_bus_get_property(bus, kService, path, interface, name, &error.e, &reply.p, "ao");
  return r < 0 ? r : ReadPaths(reply.p, out, capacity);
}

// A string setting into out; one too long for it is left empty, so that a
// cut id never matches a name.
int ReadString(sd_bus_message* m, char* out, size_t capacity) {
  const char* value = nullptr;
  int r = sd_bus_message_enter_container(m, 'v', "s");
  if (r >= 0) r = sd_bus_message_read(m, "s", &value);
  if (r >= 0) snprintf(out, capacity, "%s", strlen(value) < capacity ? value : "");
  return r < 0 ? r : sd_bus_message_exit_container(m);
}

// The "connection" section of a profile's settings (a{sa{sv}}): id, uuid,
// type, autoconnect-priority, timestamp.
int ReadProfile(sd_bus* bus, Profile& p, BusError& error) {
  Message reply;
  int r = sd_bus_call_method(bus, kService, p.settings.text,
                             "org.freedesktop.NetworkManager.Settings.Connection", "GetSettings",
                             &error.e, &reply.p, "");
  sd_bus_message* m = reply.p;
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
    const char* section = nullptr;
    r = sd_bus_message_read(m, "s", &section);
    if (r >= 0 && strcmp(section, "connection") != 0) {
      r = sd_bus_message_skip(m, "a{sv}");
    } else if (r >= 0) {
      r = sd_bus_message_enter_container(m, 'a', "{sv}");
      while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        r = sd_bus_message_read(m, "s", &key);
        if (r < 0) break;
        if (!strcmp(key, "id"))
          r = ReadString(m, p.id, sizeof p.id);
        else if (!strcmp(key, "uuid"))
          r = ReadString(m, p.uuid, sizeof p.uuid);
        else if (!strcmp(key, "type"))
          r = ReadString(m, p.type, sizeof p.type);
        else if (!strcmp(key, "autoconnect-priority"))
          r = sd_bus_message_read(m, "v", "i", &p.priority);
        else if (!strcmp(key, "timestamp"))
          r = sd_bus_message_read(m, "v", "t", &p.timestamp);
        else
          r = sd_bus_message_skip(m, "v");
        if (r >= 0) r = sd_bus_message_exit_container(m);
      }
      if (r >= 0) r = sd_bus_message_exit_container(m);
    }
    if (r >= 0) r = sd_bus_message_exit_container(m);
  }
  return r;
}

Profile* Find(Profile* profiles, int count, const ObjectPath& settings) {
  for (int i = 0; i < count; ++i)
    if (!strcmp(profiles[i].settings.text, settings.text)) return &profiles[i];
  return nullptr;
}

// Every stored profile with its active connection and a device that can
// carry it. The count, or a negative errno. A profile, active connection or
// device that goes away meanwhile is left out (its error is no failure: a
// call with an error already set would fail at once).
int ListProfiles(sd_bus* bus, Profile* profiles, BusError& error) {
  Message reply;
  ObjectPath paths[kMaxProfiles];
  int r = sd_bus_call_method(bus, kService, kSettingsPath, kSettings, "ListConnections", &error.e,
                             &reply.p, "");
  int listed = r < 0 ? r : ReadPaths(reply.p, paths, kMaxProfiles);
  if (listed < 0) return listed;
  int count = 0;
  for (int i = 0; i < listed; ++i) {
    BusError gone;
    profiles[count] = Profile{};
    profiles[count].settings = paths[i];
    if (ReadProfile(bus, profiles[count], gone) >= 0) ++count;
  }

  ObjectPath actives[kMaxDevices];
  int activeCount =
      GetPaths(bus, kManagerPath, kService, "ActiveConnections", actives, kMaxDevices, error);
  if (activeCount < 0) return activeCount;
  for (int i = 0; i < activeCount; ++i) {
    BusError gone;
    ObjectPath settings;
    if (GetPath(bus, actives[i].text, kActive, "Connection", settings, gone) < 0) continue;
    if (Profile* p = Find(profiles, count, settings)) p->active = actives[i];
  }

  ObjectPath devices[kMaxDevices];
  int deviceCount = GetPaths(bus, kManagerPath, kService, "Devices", devices, kMaxDevices, error);
  if (deviceCount < 0) return deviceCount;
  for (int d = 0; d < deviceCount; ++d) {
    BusError gone;
    ObjectPath carried, available[kMaxProfiles];
    if (GetPath(bus, devices[d].text, kDevice, "ActiveConnection", carried, gone) < 0) continue;
    bool idle = !strcmp(carried.text, "/");
    int n = GetPaths(bus, devices[d].text, kDevice, "AvailableConnections", available, kMaxProfiles,
                     gone);
    for (int i = 0; i < n; ++i) {
      Profile* p = Find(profiles, count, available[i]);
      if (!p || !(p->device.Empty() || (idle && !p->deviceIdle))) continue;
      p->device = devices[d];
      p->deviceIdle = idle;
    }
  }
  return count;
}

// The wait for one active connection: fed by its StateChanged signals and
// those of its device.
struct Wait {
  char manager[kBusNameBytes] = {};  // signals from others than NetworkManager are ignored
  ObjectPath active;
  ObjectPath device;
  uint32_t state = 0;  // the furthest state seen: the states only go forward
  uint32_t reason = 0;
  uint32_t deviceReason = 0;  // why the device failed, when it did
};

bool FromManager(sd_bus_message* m, const Wait& wait, const ObjectPath& path) {
  const char* sender = sd_bus_message_get_sender(m);
  const char* object = sd_bus_message_get_path(m);
  return sender && object && !strcmp(sender, wait.manager) && !strcmp(object, path.text);
}

int OnActiveState(sd_bus_message* m, void* data, sd_bus_error*) {
  Wait& wait = *static_cast<Wait*>(data);
  uint32_t state = 0, reason = 0;
  if (FromManager(m, wait, wait.active) && sd_bus_message_read(m, "uu", &state, &reason) >= 0 &&
      state > wait.state) {
    wait.state = state;
    wait.reason = reason;
  }
  return 0;
}

int OnDeviceState(sd_bus_message* m, void* data, sd_bus_error*) {
  Wait& wait = *static_cast<Wait*>(data);
  uint32_t state = 0, old = 0, reason = 0;
  if (FromManager(m, wait, wait.device) &&
      sd_bus_message_read(m, "uuu", &state, &old, &reason) >= 0 && state == kDeviceFailed)
    wait.deviceReason = reason;
  return 0;
}

// NetworkManager's reasons, in its own words where they tell a user
// something.
const char* ActiveReasonText(uint32_t reason) {
  static const char* const kTexts[] = {"unknown reason",
                                       "no reason given",
                                       "disconnected by a user",
                                       "the device was disconnected",
                                       "the service providing the VPN stopped",
                                       "the IP configuration is invalid",
                                       "the attempt timed out",
                                       "the VPN service did not start in time",
                                       "the VPN service failed to start",
                                       "secrets were required but not given",
                                       "the login failed",
                                       "the profile was deleted",
                                       "a connection it depends on failed",
                                       "the device could not be created",
                                       "the device disappeared"};
  return reason < sizeof kTexts / sizeof kTexts[0] ? kTexts[reason] : "an unknown reason";
}

const char* DeviceReasonText(uint32_t reason) {
  static const struct {
    uint32_t reason;
    const char* text;
  } kTexts[] = {
      {4, "the device could not be readied for configuration"},
      {5, "no IP configuration could be obtained (no address, time-out)"},
      {6, "the IP configuration expired"},
      {7, "secrets were required but not given"},
      {12, "PPP failed to start"},
      {14, "PPP failed"},
      {15, "the DHCP client failed to start"},
      {17, "the DHCP client failed"},
      {23, "the modem is busy"},
      {25, "the modem has no carrier"},
      {26, "the modem's dialling timed out"},
      {27, "the modem's dialling failed"},
      {29, "the APN could not be selected"},
      {31, "the mobile network denied the registration"},
      {32, "the mobile network registration timed out"},
      {33, "the mobile network registration failed"},
      {34, "the SIM PIN check failed"},
      {36, "the device disappeared"},
      {40, "the carrier was lost"},
      {43, "the modem was not found"},
      {45, "no SIM card is inserted"},
      {46, "the SIM card needs its PIN"},
      {47, "the SIM card needs its PUK"},
      {52, "ModemManager is not running"},
  };
  for (const auto& row : kTexts)
    if (row.reason == reason) return row.text;
  return nullptr;
}

// Processes signals until wait.state reaches atLeast: 0, -ETIMEDOUT at the
// deadline, or the bus's negative errno.
int AwaitState(sd_bus* bus, Wait& wait, uint32_t atLeast, uint64_t deadline) {
  for (;;) {
    int r = 0;
    while (wait.state < atLeast && (r = sd_bus_process(bus, nullptr)) > 0) {}
    if (wait.state >= atLeast) return 0;
    if (r < 0) return r;
    uint64_t now = NowUsec();
    if (now >= deadline) return -ETIMEDOUT;
    r = sd_bus_wait(bus, deadline - now);
    if (r < 0 && r != -EINTR) return r;
  }
}

int Subscribe(sd_bus* bus, Wait& wait, Slot& activeSlot, Slot& deviceSlot);

// The active connection's state as it is now, where it is further than the
// signals have told: the states only go forward. Negative when it is gone.
int ReadActiveState(sd_bus* bus, Wait& wait, BusError& error) {
  uint32_t state = 0;
  int r = GetNumber(bus, wait.active.text, kActive, "State", state, error);
  if (r >= 0 && state > wait.state) wait.state = state;
  return r;
}

// Takes down an active connection and waits, within limitUsec, until it is
// down: when the run ends, what it brought up is gone.
void Deactivate(const ObjectPath& active, uint64_t limitUsec) {
  uint64_t deadline = NowUsec() + limitUsec;
  Bus bus;
  BusError error;
  Wait wait;
  Slot activeSlot, deviceSlot;
  Message reply;
  if (Open(bus, limitUsec) != kOk || Subscribe(bus.p, wait, activeSlot, deviceSlot) < 0) return;
  wait.active = active;
  if (sd_bus_call_method(bus.p, kService, kManagerPath, kService, "DeactivateConnection", &error.e,
                         &reply.p, "o", active.text) < 0)
    return;  // down already
  snprintf(wait.manager, sizeof wait.manager, "%s", sd_bus_message_get_sender(reply.p));
  if (ReadActiveState(bus.p, wait, error) < 0) return;  // gone
  AwaitState(bus.p, wait, kDeactivated, deadline);
}

// Waits for wait.active to be activated or to fail; a profile we brought up
// and that did not come up in time is taken down again.
int32_t AwaitActivation(sd_bus* bus, Wait& wait, const Profile& profile, bool ours,
                        uint64_t deadline) {
  int r = AwaitState(bus, wait, kActivated, deadline);
  if (r == -ETIMEDOUT) {
    if (ours) Deactivate(wait.active, kReleaseLimitUsec);
    Fail("\"%s\" did not come up in time", profile.id);
    return kTimedOut;
  }
  if (r < 0) return Fail("lost the system bus while \"%s\" came up: %s", profile.id, strerror(-r));
  if (wait.state >= kDeactivating) {
    const char* device = DeviceReasonText(wait.deviceReason);
    return Fail("\"%s\" failed to come up: %s", profile.id,
                device ? device : ActiveReasonText(wait.reason));
  }
  if (ours) g_connection.active = wait.active;
  return kOk;
}

// Subscribes to state changes of active connections and of the profile's
// device: before activating, since the active connection's object is gone
// once it has failed.
int Subscribe(sd_bus* bus, Wait& wait, Slot& activeSlot, Slot& deviceSlot) {
  int r = sd_bus_add_match(
      bus, &activeSlot.p,
      "type='signal',interface='org.freedesktop.NetworkManager.Connection.Active',"
      "member='StateChanged',path_namespace='/org/freedesktop/NetworkManager/ActiveConnection'",
      OnActiveState, &wait);
  if (r < 0 || wait.device.Empty()) return r;
  char rule[256];
  snprintf(rule, sizeof rule, "type='signal',interface='%s',member='StateChanged',path='%s'",
           kDevice, wait.device.text);
  return sd_bus_add_match(bus, &deviceSlot.p, rule, OnDeviceState, &wait);
}

int32_t Establish(uint32_t timeoutMs) {
  uint64_t limit = uint64_t{timeoutMs} * 1000;
  uint64_t deadline = NowUsec() + limit;
  g_connection = Connection{};
  if (g_profileTooLong) return Fail("the profile name is too long");
  Bus bus;
  if (Open(bus, limit) != kOk) return kFailed;
  BusError error;

  // Connected already: a default route through an active connection.
  Wait wait;
  ObjectPath primary;
  int r =
      GetPath(bus.p, kManagerPath, kService, "PrimaryConnection", primary, error, &wait.manager);
  if (r < 0) return FailCall("cannot ask NetworkManager", r, error);
  if (strcmp(primary.text, "/") != 0) return kOk;

  static Profile profiles[kMaxProfiles];  // 47 KiB: not on the stack
  int count = ListProfiles(bus.p, profiles, error);
  if (count < 0) return FailCall("cannot list the connection profiles", count, error);
  int chosen = ChooseProfile(profiles, count, g_profile);
  if (chosen < 0)
    return g_profile[0] ? Fail("no connection profile \"%s\"", g_profile)
                        : Fail("no connection profile to bring up (none down with an idle device)");
  const Profile& profile = profiles[chosen];
  wait.device = profile.device;

  Slot activeSlot, deviceSlot;
  if ((r = Subscribe(bus.p, wait, activeSlot, deviceSlot)) < 0)
    return Fail("cannot follow NetworkManager's signals: %s", strerror(-r));
  bool ours = profile.active.Empty();
  if (ours) {
    // A profile that is down; its object is only known from the answer,
    // signals that come before it wait in the queue.
    Message activated;
    const char* active = nullptr;
    r = sd_bus_call_method(bus.p, kService, kManagerPath, kService, "ActivateConnection", &error.e,
                           &activated.p, "ooo", profile.settings.text,
                           profile.device.Empty() ? "/" : profile.device.text, "/");
    if (r >= 0) r = sd_bus_message_read(activated.p, "o", &active);
    char what[HOROLAN_CONNMGR_PROFILE_BYTES + 24];
    snprintf(what, sizeof what, "cannot bring up \"%s\"", profile.id);
    if (r < 0) return FailCall(what, r, error);
    wait.active.Assign(active);
  } else {
    // Up or coming up already, by someone else: never restarted, never
    // taken down by this run.
    wait.active = profile.active;
    if (ReadActiveState(bus.p, wait, error) < 0 && wait.state < kDeactivating)
      wait.state = kDeactivating;
  }
  return AwaitActivation(bus.p, wait, profile, ours, deadline);
}

int32_t Status(uint32_t* status) {
  *status = kStatusDisconnected;
  if (g_connection.active.Empty()) {
    *status = kStatusConnected;  // it was there before: nothing of ours to lose
    return kOk;
  }
  Bus bus;
  BusError error;
  uint32_t state = 0;
  if (Open(bus, kReleaseLimitUsec) != kOk) return kFailed;
  if (GetNumber(bus.p, g_connection.active.text, kActive, "State", state, error) < 0)
    return kOk;  // it is gone
  if (state == kActivated) *status = kStatusConnected;
  return kOk;
}

}  // namespace

}  // namespace os::connmgr

using os::connmgr::g_connection;

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int32_t ConnMgrEstablishConnectionSync(const void* info, void** connection,
                                              uint32_t timeoutMs, uint32_t* status) {
  os::connmgr::g_reason[0] = 0;
  if (!info || !connection || !status) return os::connmgr::kInvalidArgument;
  int32_t result = os::connmgr::Establish(timeoutMs);
  *connection = result == os::connmgr::kOk ? &g_connection : nullptr;
  *status =
      result == os::connmgr::kOk ? os::connmgr::kStatusConnected : os::connmgr::kStatusDisconnected;
  return result;
}

EXPORT int32_t ConnMgrConnectionStatus(void* connection, uint32_t* status) {
  if (!status) return os::connmgr::kInvalidArgument;
  if (connection != &g_connection) {
    *status = os::connmgr::kStatusDisconnected;
    return os::connmgr::kInvalidArgument;
  }
  return os::connmgr::Status(status);
}

EXPORT int32_t ConnMgrReleaseConnection(void* connection, int32_t) {
  if (connection != &g_connection) return os::connmgr::kInvalidArgument;
  if (!g_connection.active.Empty())
    os::connmgr::Deactivate(g_connection.active, os::connmgr::kReleaseLimitUsec);
  g_connection = os::connmgr::Connection{};
  return os::connmgr::kOk;
}

EXPORT int32_t horolan_connmgr_use_profile(const char* profile) {
  size_t length = profile ? strlen(profile) : 0;
  os::connmgr::g_profile[0] = 0;
  os::connmgr::g_profileTooLong = length >= sizeof os::connmgr::g_profile;
  if (os::connmgr::g_profileTooLong) return os::connmgr::kInvalidArgument;
  if (length) memcpy(os::connmgr::g_profile, profile, length + 1);
  return os::connmgr::kOk;
}

EXPORT void horolan_connmgr_reason(char* out, size_t capacity) {
  if (out && capacity) snprintf(out, capacity, "%s", os::connmgr::g_reason);
}
