// The URL service with its module against fake servers of our own on
// loopback: answers, result codes, the stream, COM start/end and the web
// cache end to end.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <filesystem>
#include <string>

#include "os/base/last_error.h"
#include "os/net/url_service.h"
#include "os/registry/registry_store.h"
#include "tests/os/net/fetch_helper.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide.h"
#include "tests/tools/nist_daytime_server/fake_daytime_server.h"

using testtools::FakeDaytimeServer;
using testtools::HttpAnswer;
using testtools::ServeMode;

namespace {

const std::string kLine = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) *\n";

class UrlService : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
      unsetenv(name);
    setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);
    os::SetRegistryStorePathForTests(dir.File("registry.db").c_str());
    fake::Install({2024, 5, 1, 6, 7, 8, 9, 0});
  }
  void TearDown() override {
    fake::Uninstall();
    os::SetRegistryStorePathForTests(nullptr);
    os::SetUrlWaitsForTests(0, 0);
  }
  TempDir dir;
};

}  // namespace

TEST_F(UrlService, ADaytimeServersLineIsTheAnswerHoweverItCloses) {
  // Closing with the request unread resets the connection: the line that
  // came before the reset is still the whole answer, every time.
  for (ServeMode mode : {ServeMode::LineAndClose, ServeMode::LineThenReset, ServeMode::LineThenFin}) {
    FakeDaytimeServer server(testtools::Daytime(mode, kLine));
    ASSERT_TRUE(server.listening());
    for (int i = 0; i < 5; ++i) {
      Fetched fetched = Fetch(server.url("/:13"));
      EXPECT_EQ(fetched.code, 0) << static_cast<int>(mode);
      EXPECT_EQ(fetched.bytes, kLine);
    }
  }
}

TEST_F(UrlService, HttpStatusesMapToTheServicesCodesAndRedirectsAreFollowed) {
  for (auto [status, code] : {std::pair{200, 0}, {404, os::kUrlNotFound}, {410, os::kUrlNotFound},
                              {500, os::kUrlDownloadFailure}}) {
    FakeDaytimeServer server(HttpAnswer(status, kLine));
    EXPECT_EQ(Fetch(server.url("/nist.txt")).code, code) << status;
  }
  FakeDaytimeServer target(HttpAnswer(200, kLine));
  FakeDaytimeServer mover(HttpAnswer(302, "", "Location: " + target.url("/nist.txt") + "\r\n"));
  Fetched fetched = Fetch(mover.url("/old"));
  EXPECT_EQ(fetched.code, 0);
  EXPECT_EQ(fetched.bytes, kLine);
  // A redirect to another scheme is not followed.
  FakeDaytimeServer elsewhere(HttpAnswer(302, "", "Location: ftp://127.0.0.1/x\r\n"));
  EXPECT_NE(Fetch(elsewhere.url("/old")).code, 0);
}

TEST_F(UrlService, TheProxyOfTheEnvironmentIsUsed) {
  // The target is a loopback address where nothing listens: should the proxy
  // be ignored, the fetch fails there and nothing leaves the machine.
  FakeDaytimeServer proxy(HttpAnswer(200, kLine));
  setenv("http_proxy", proxy.url().c_str(), 1);
  Fetched fetched = Fetch("http://127.0.0.2:13");
  unsetenv("http_proxy");
  EXPECT_EQ(fetched.code, 0);
  EXPECT_EQ(fetched.bytes, kLine);
  EXPECT_EQ(proxy.lastRequest().rfind("GET http://127.0.0.2:13/ HTTP/1.1\r\n", 0), 0u) << proxy.lastRequest();
}

TEST_F(UrlService, ConnectionFailuresAndTimeOutsHaveTheirCodes) {
  EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(testtools::UnusedLoopbackPort()) + "/").code,
            os::kUrlCannotConnect);
  FakeDaytimeServer empty(testtools::Daytime(ServeMode::LineAndClose, ""));
  EXPECT_EQ(Fetch(empty.url("/:13")).code, os::kUrlDownloadFailure);
  os::SetUrlWaitsForTests(1000, 1000);
  FakeDaytimeServer silent(testtools::Daytime(ServeMode::NeverAnswer, ""));
  EXPECT_EQ(Fetch(silent.url("/:13")).code, os::kUrlTimeout);
  // A listener whose backlog is full drops the connection request: the
  // connect itself times out.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int fillers[3];
  for (int& filler : fillers) {
    filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/").code, os::kUrlTimeout);
  for (int fd : fillers) close(fd);
  close(listener);
}

TEST_F(UrlService, BadUrlsAreRefusedWithoutAFetch) {
  os::UrlStream* stream = reinterpret_cast<os::UrlStream*>(&stream);
  EXPECT_EQ(os::OpenBlockingUrlStream(u"gopher://127.0.0.1/", &stream), os::kUrlUnknownProtocol);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<uint32_t>(os::kUrlUnknownProtocol));
  for (auto [url, code] : {std::pair<std::string, int32_t>{"", os::kUrlSyntaxError},
                           {"http://exa mple.invalid/", os::kUrlSyntaxError},
                           {"http://:13", os::kUrlSyntaxError},
                           {"http://a.invalid/" + std::string(os::kUrlMaxLength, 'x'), os::kUrlSyntaxError},
                           {"alpha.beta", os::kUrlSyntaxError},
                           {"ftp://127.0.0.1/x", os::kUrlUnknownProtocol},
                           {"file:///etc/passwd", os::kUrlUnknownProtocol}})
    EXPECT_EQ(Fetch(url).code, code) << url;
}

TEST_F(UrlService, ReadPlacesAtMostWhatWasAskedAndGoesOn) {
  FakeDaytimeServer server(testtools::Daytime(ServeMode::LineAndClose, "0123456789"));
  os::UrlStream* stream = nullptr;
  ASSERT_EQ(os::OpenBlockingUrlStream(U16(server.url("/")).c_str(), &stream), 0);
  char buffer[128] = {};
  uint32_t placed = 99;  // a read that places nothing must say so
  EXPECT_EQ(os::ReadUrlStream(stream, buffer, 4, &placed), 0);
  EXPECT_EQ(std::string(buffer, placed), "0123");
  EXPECT_EQ(os::ReadUrlStream(stream, buffer, 16, &placed), 1);
  EXPECT_EQ(std::string(buffer, placed), "456789");
  EXPECT_EQ(os::ReadUrlStream(stream, buffer, 16, &placed), 1);
  EXPECT_EQ(placed, 0u);
  os::ReleaseUrlStream(stream);
}

TEST(ComUse, StartsAndEndsCountPerThread) {
  EXPECT_EQ(os::ComStart(), 0);
  EXPECT_EQ(os::ComStart(), 1);
  os::ComEnd();
  os::ComEnd();
  os::ComEnd();  // one end too many changes nothing
  EXPECT_EQ(os::ComStart(), 0);
  os::ComEnd();
}

TEST_F(UrlService, EveryFetchLeavesACopyButOnlyAFreshOneIsReused) {
  FakeDaytimeServer daytime(testtools::Daytime(ServeMode::LineAndClose, kLine));
  EXPECT_EQ(Fetch(daytime.url("/:13")).code, 0);
  EXPECT_EQ(Fetch(daytime.url("/:13")).code, 0);
  EXPECT_EQ(daytime.connections(), 2);
  EXPECT_TRUE(std::filesystem::exists(dir.File("cache/horolan/web/127.0.0.1[1]")));

  FakeDaytimeServer fresh(HttpAnswer(200, kLine, "Cache-Control: max-age=60\r\n"));
  std::string url = fresh.url("/fresh");
  EXPECT_EQ(Fetch(url).bytes, kLine);
  fake::Advance(59000);
  Fetched again = Fetch(url);
  EXPECT_EQ(again.code, 0);
  EXPECT_EQ(again.bytes, kLine);
  EXPECT_EQ(fresh.connections(), 1);
  fake::Advance(1000);
  EXPECT_EQ(Fetch(url).code, 0);
  EXPECT_EQ(fresh.connections(), 2);

  FakeDaytimeServer plain(HttpAnswer(200, kLine));
  Fetch(plain.url("/plain"));
  Fetch(plain.url("/plain"));
  EXPECT_EQ(plain.connections(), 2);
  // A failed fetch is not answered from the cache.
  FakeDaytimeServer missing(HttpAnswer(404, "gone", "Cache-Control: max-age=60\r\n"));
  EXPECT_EQ(Fetch(missing.url("/gone")).code, os::kUrlNotFound);
  EXPECT_EQ(Fetch(missing.url("/gone")).code, os::kUrlNotFound);
}
