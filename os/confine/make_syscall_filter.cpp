// Build tool: compiles the confined run's allow-list (syscall_allow_list.cpp)
// to BPF with libseccomp and writes it as a C++ header of ready programs.
//   make_syscall_filter OUTPUT.h
#include <algorithm>
#include <cstdio>
#include <linux/filter.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "os/confine/syscall_allow_list.h"

namespace {

using os::confine::FilterKind;

// The BPF program of one filter; empty when libseccomp fails.
std::vector<sock_filter> Compile(FilterKind kind) {
  scmp_filter_ctx ctx = os::confine::MakeFilter(kind);
  int fd = memfd_create("filter", MFD_CLOEXEC);
  seccomp_export_bpf(ctx, fd);
  off_t size = std::max<off_t>(lseek(fd, 0, SEEK_END), 0);
  std::vector<sock_filter> program(static_cast<size_t>(size) / sizeof(sock_filter));
  (void)!pread(fd, program.data(), program.size() * sizeof(sock_filter), 0);
  close(fd);
  seccomp_release(ctx);
  return program;
}

// An empty program (libseccomp failed) is an empty array, which the loader
// refuses to compile: a broken filter cannot reach a build.
void Write(FILE* out, const char* name, const std::vector<sock_filter>& program) {
  fprintf(out, "inline constexpr sock_filter %s[] = {\n", name);
  for (const sock_filter& i : program)
    fprintf(out, "    {0x%04x, %u, %u, 0x%08x},\n", i.code, i.jt, i.jf, static_cast<unsigned>(i.k));
  fprintf(out, "};\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_syscall_filter OUTPUT.h\n");
    return 2;
  }
  FILE* out = fopen(argv[1], "w");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  fprintf(out, "// Generated from os/confine/syscall_allow_list.cpp by make_syscall_filter.\n#pragma once\n");
  fprintf(out, "#include <linux/filter.h>\n\nnamespace os::confine::bpf {\n\n");
  Write(out, "kRun", Compile(FilterKind::Run));
  Write(out, "kHangUp", Compile(FilterKind::HangUp));
  Write(out, "kNoSignals", Compile(FilterKind::NoSignals));
  fprintf(out, "\n}  // namespace os::confine::bpf\n");
  fclose(out);
  return 0;
}
