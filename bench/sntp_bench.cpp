// One SntpClient::Query against the fake SNTP server on loopback, next to the
// bare UDP round trip of the same 48-byte request to the same server: the
// query's time should be mostly the round trip. And the timestamp
// conversions FromCalendar/ToCalendarNear, integer-only, well under 1 us each.
// Run with --benchmark_repetitions=20 for the median and the spread.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "os/net/sockets.h"
#include "sources/sntp_client.h"
#include "bench/loopback_servers.h"
#include "timecore/ntp_timestamp.h"

namespace {

FakeSntpServer& Server() {
  static FakeSntpServer server;
  return server;
}

void BM_SntpQuery(benchmark::State& state) {
  SntpClient client;
  SntpExchange exchange;
  for (auto _ : state) {
    if (!client.Query(u"127.0.0.1", exchange, Server().port()))
      state.SkipWithError("the query failed");
    benchmark::DoNotOptimize(exchange);
  }
}
BENCHMARK(BM_SntpQuery)->UseRealTime();

// The same request and answer over a socket that stays open: the share of a
// query that is the round trip itself.
void BM_LoopbackRoundTrip(benchmark::State& state) {
  os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
  os::SocketAddressIpv4 address;
  address.port = os::HostToNetworkShort(Server().port());
  address.address = os::ParseDottedAddress("127.0.0.1");
  os::ConnectSocket(s, address);
  uint8_t request[48] = {0x1B};
  uint8_t answer[68];
  for (auto _ : state) {
    os::SendOnSocket(s, request, sizeof request, 0);
    if (os::ReceiveFromSocket(s, answer, sizeof answer, 0) < 48) state.SkipWithError("no answer");
  }
  os::CloseSocket(s);
}
BENCHMARK(BM_LoopbackRoundTrip)->UseRealTime();

// What a query adds to the round trip: its own socket, opened, connected
// (which picks the local port) and closed again.
void BM_SocketOpenConnectClose(benchmark::State& state) {
  os::SocketAddressIpv4 address;
  address.port = os::HostToNetworkShort(Server().port());
  address.address = os::ParseDottedAddress("127.0.0.1");
  for (auto _ : state) {
    os::SocketHandle s = os::OpenSocket(os::kAddressFamilyIpv4, os::kSocketTypeDatagram, 0);
    os::ConnectSocket(s, address);
    os::CloseSocket(s);
  }
}
BENCHMARK(BM_SocketOpenConnectClose)->UseRealTime();

CalendarTime Sample(uint32_t i) {
  CalendarTime t;
  t.year = static_cast<uint16_t>(1900 + i % 136);
  t.month = static_cast<uint16_t>(1 + i % 12);
  t.day = static_cast<uint16_t>(1 + i % 28);
  t.hour = static_cast<uint16_t>(i % 24);
  t.minute = static_cast<uint16_t>(i % 60);
  t.second = static_cast<uint16_t>(i % 59);
  t.milliseconds = static_cast<uint16_t>(i % 1000);
  return t;
}

void BM_FromCalendar(benchmark::State& state) {
  CalendarTime samples[256];
  for (uint32_t i = 0; i < 256; ++i) samples[i] = Sample(i * 7919);
  uint32_t i = 0;
  for (auto _ : state) {
    NtpTimestamp t = NtpTimestamp::FromCalendar(samples[i++ & 255]);
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_FromCalendar);

void BM_ToCalendarNear(benchmark::State& state) {
  NtpTimestamp samples[256];
  for (uint32_t i = 0; i < 256; ++i)
    samples[i] = NtpTimestamp{i * 2654435761u, i * 16777619u + 3155673600u};
  const CalendarTime near = Sample(2026);
  uint32_t i = 0;
  for (auto _ : state) {
    CalendarTime c = samples[i++ & 255].ToCalendarNear(near);
    benchmark::DoNotOptimize(c);
  }
}
BENCHMARK(BM_ToCalendarNear);

}  // namespace

BENCHMARK_MAIN();
