#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "os/connmgr/nm_choice.h"

using os::connmgr::Profile;

// A profile down, on an idle device unless device is "busy" or "".
Profile Make(const char* id, const char* type, int32_t priority, uint64_t timestamp,
             const char* device = "idle") {
  Profile p;
  snprintf(p.id, sizeof p.id, "%s", id);
  snprintf(p.uuid, sizeof p.uuid, "uuid-%s", id);
  snprintf(p.type, sizeof p.type, "%s", type);
  p.priority = priority;
  p.timestamp = timestamp;
  if (*device) p.device.Assign("/org/freedesktop/NetworkManager/Devices/2");
  p.deviceIdle = std::string(device) == "idle";
  return p;
}

// Of the profiles down on an idle device.
TEST(ConnectionChoice, MobileBroadbandFirstThenPriorityThenLastUsed) {
  std::vector<Profile> p = {Make("lan", "802-3-ethernet", 5, 9),
                            Make("wifi", "802-11-wireless", 5, 10), Make("cell", "gsm", -1, 0)};
  auto chosen = [&p](const char* name = "") {
    int i = os::connmgr::ChooseProfile(p.data(), static_cast<int>(p.size()), name);
    return i < 0 ? std::string("-") : std::string(p[i].id);
  };
  EXPECT_EQ(chosen(), "cell");
  p[2] = Make("cell", "cdma", -1, 0, "");  // no modem
  EXPECT_EQ(chosen(), "wifi");
  p[0].priority = 6;
  EXPECT_EQ(chosen(), "lan");
  p[0].deviceIdle = false;  // its device carries another connection
  EXPECT_EQ(chosen(), "wifi");
  p[1].active.Assign("/org/freedesktop/NetworkManager/ActiveConnection/1");
  EXPECT_EQ(chosen(), "-");
  // A name is taken as it is: without a device, or up (the caller keeps it).
  EXPECT_EQ(chosen("cell"), "cell");
  EXPECT_EQ(chosen("uuid-wifi"), "wifi");
  EXPECT_EQ(chosen("Cell"), "-");
  os::connmgr::ObjectPath path;
  EXPECT_EQ(path.Assign(std::string(os::connmgr::ObjectPath::kCapacity, '/').c_str()), false);
  EXPECT_EQ(path.Empty(), true);
}
