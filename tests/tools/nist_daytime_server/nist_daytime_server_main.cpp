// nist_daytime_server: the fake daytime server as a program, for trying the
// daytime branch by hand. Listens on 127.0.0.1, prints its port, serves
// until SIGINT or SIGTERM.
//
//   nist_daytime_server [--port N] [--mode close|reset|fin|never|http] [LINE]
//
// Without LINE it sends "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n".
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tests/tools/nist_daytime_server/fake_daytime_server.h"

int main(int argc, char** argv) {
  testtools::ServerBehaviour behaviour;
  behaviour.line = "\n54800 08-11-30 12:34:56 00 0 0 50.0 UTC(NIST) * \n";
  unsigned long port = 0;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--port") && i + 1 < argc) {
      port = strtoul(argv[++i], nullptr, 10);
    } else if (!strcmp(argv[i], "--mode") && i + 1 < argc) {
      std::string mode = argv[++i];
      if (mode == "close") behaviour.mode = testtools::ServeMode::LineAndClose;
      else if (mode == "reset") behaviour.mode = testtools::ServeMode::LineThenReset;
      else if (mode == "fin") behaviour.mode = testtools::ServeMode::LineThenFin;
      else if (mode == "never") behaviour.mode = testtools::ServeMode::NeverAnswer;
      else if (mode == "http") behaviour.mode = testtools::ServeMode::Http;
      else {
        fprintf(stderr, "nist_daytime_server: unknown mode %s\n", mode.c_str());
        return 2;
      }
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      fprintf(stderr, "usage: nist_daytime_server [--port N] [--mode close|reset|fin|never|http] [LINE]\n");
      return 2;
    } else {
      behaviour.line = argv[i];
    }
  }
  if (port > 65535) return 2;
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the server thread starts
  testtools::FakeDaytimeServer server(behaviour, static_cast<uint16_t>(port));
  if (!server.listening()) {
    fprintf(stderr, "nist_daytime_server: cannot listen on 127.0.0.1:%lu\n", port);
    return 1;
  }
  printf("%u\n", server.port());
  fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
