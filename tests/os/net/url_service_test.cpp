// The URL service around its transfer (URL limits, stream, COM start/end) and the real module's time-out.
// Real fetches: tests/e2e/daytime.sh.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include "os/base/last_error.h"
#include "os/net/url_service.h"
#include "tests/os/net/seams.h"
#include "tests/support/fake_url_service.h"
#include "tests/support/isolated_env.h"

// Every fetch reads the cache folder from a registry of its own.
struct UrlService : ::testing::Test {
  int32_t Open(const std::string& url) { return os::OpenBlockingUrlStream(U16(url).c_str(), &stream); }
  IsolatedEnv env;
  os::UrlStream* stream = reinterpret_cast<os::UrlStream*>(this);
};

TEST_F(UrlService, UrlsUpToTheLimitReachTheTransferAndTheStreamReadsInPieces) {
  fake_url::Install([](const std::string& url) { return fake_url::Answer{url.size() > 20 ? 0 : 42, "0123456789"}; });
  std::string longest = "http://h/" + std::string(os::kUrlMaxLength - 9, 'x');
  for (auto [url, code] : {std::pair{std::string(""), os::kUrlSyntaxError}, {longest + "x", os::kUrlSyntaxError},
                           {std::string("http://h/"), 42}}) {
    EXPECT_EQ(Open(url), code);
    EXPECT_TRUE(stream == nullptr && os::GetLastError() == static_cast<uint32_t>(code)) << url;
  }
  ASSERT_EQ(Open(longest), 0);
  char buffer[16] = {};
  uint32_t placed = 99;
  EXPECT_TRUE(os::ReadUrlStream(stream, buffer, 4, &placed) == 0 && std::string(buffer, placed) == "0123");
  EXPECT_EQ(os::ReadUrlStream(stream, buffer, 6, nullptr), 0);
  EXPECT_TRUE(os::ReadUrlStream(stream, buffer, 16, &placed) == 1 && placed == 0u);  // nothing placed says so
  EXPECT_EQ(os::ReadUrlStream(stream, nullptr, 0, &placed), 0);
  EXPECT_EQ(os::ReadUrlStream(nullptr, buffer, 1, &placed), os::kUrlDownloadFailure);
  os::ReleaseUrlStream(stream);
  fake_url::Uninstall();
  // COM starts and ends count per thread; one end too many changes nothing.
  EXPECT_EQ(os::ComStart(), 0);
  EXPECT_EQ(os::ComStart(), 1);
  for (int i = 0; i < 3; ++i) os::ComEnd();
  EXPECT_EQ(os::ComStart(), 0);
}

TEST_F(UrlService, AServerThatNeverAnswersIsATimeOutOverHttpAndHttps) {
  if (!seams::LoopbackUp()) GTEST_SKIP() << "loopback (127.0.0.1) is down here";
  // The kernel completes the connection into the backlog; nothing answers.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  listen(listener, 4);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  os::SetUrlWaitsForTests(500, 500);
  for (const char* scheme : {"http", "https"})
    EXPECT_EQ(Open(scheme + std::string("://127.0.0.1:") + std::to_string(ntohs(address.sin_port)) + "/"), os::kUrlTimeout);
  os::SetUrlWaitsForTests(0, 0);
  close(listener);
}
