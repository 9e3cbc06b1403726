// Reads or sets the clock through the product's clock service, for the
// virtual-clock shim's test. Refuses to run while it could set the real
// clock (CAP_SYS_TIME effective or permitted), so a failed preload can never
// reach the machine's clock from here.
//   vclock_probe caps                 -> "effective 0 permitted 0 bounding 0"
//   vclock_probe read                 -> "<clock service ms> <time()> <gettimeofday ms>" (since 1970)
//   vclock_probe set Y M D h m s ms   -> "ok" or "error <last-error>"
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "os/clock.h"
#include "os/last_error.h"

namespace {

constexpr int kCapSysTime = 25;

// The CAP_SYS_TIME bit of one of the capability lines of /proc/self/status.
int CapabilityBit(const char* line) {
  std::ifstream status("/proc/self/status");
  std::string text;
  while (std::getline(status, text))
    if (text.rfind(line, 0) == 0) return (std::strtoull(text.c_str() + std::strlen(line), nullptr, 16) >> kCapSysTime) & 1;
  return 1;
}

constexpr int64_t kMsTo1970 = 11644473600000ll;

}  // namespace

int main(int argc, char** argv) {
  int effective = CapabilityBit("CapEff:"), permitted = CapabilityBit("CapPrm:"), bounding = CapabilityBit("CapBnd:");
  if (argc >= 2 && std::strcmp(argv[1], "caps") == 0) {
    std::printf("effective %d permitted %d bounding %d\n", effective, permitted, bounding);
    return 0;
  }
  if (effective || permitted) {
    std::fprintf(stderr, "vclock_probe: CAP_SYS_TIME is held; refusing to touch the clock\n");
    return 3;
  }
  if (argc >= 2 && std::strcmp(argv[1], "read") == 0) {
    CalendarTime now;
    os::ReadUtcClock(now);
    uint64_t count = 0;
    os::CalendarToCount(now, count);
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    std::printf("%lld %lld %lld\n", static_cast<long long>(static_cast<int64_t>(count / 10000) - kMsTo1970),
                static_cast<long long>(time(nullptr)),
                static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000);
    return 0;
  }
  if (argc == 9 && std::strcmp(argv[1], "set") == 0) {
    CalendarTime t;
    uint16_t* fields[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second, &t.milliseconds};
    for (int i = 0; i < 7; ++i) *fields[i] = static_cast<uint16_t>(std::atoi(argv[2 + i]));
    if (os::SetUtcClock(t)) {
      std::printf("ok\n");
      return 0;
    }
    std::printf("error %u\n", os::GetLastError());
    return 1;
  }
  std::fprintf(stderr, "usage: vclock_probe caps | read | set Y M D h m s ms\n");
  return 2;
}
