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

// The BPF program of one filter; empty when libseccomp failed.
std::vector<sock_filter> Compile(FilterKind kind) {
  scmp_filter_ctx ctx = os::confine::MakeFilter(kind);
  if (!ctx) return {};
  int fd = memfd_create("filter", MFD_CLOEXEC);
  std::vector<sock_filter> program;
  if (fd >= 0 && seccomp_export_bpf(ctx, fd) == 0) {
    off_t size = std::max<off_t>(lseek(fd, 0, SEEK_END), 0);
    program.resize(static_cast<size_t>(size) / sizeof(sock_filter));
    size_t bytes = program.size() * sizeof(sock_filter);
    if (pread(fd, program.data(), bytes, 0) != static_cast<ssize_t>(bytes)) program.clear();
  }
  if (fd >= 0) close(fd);
  seccomp_release(ctx);
  return program;
}

// The comparisons of the argument with the process id's stand-in: the
// places the run writes its own id into.
std::vector<size_t> ProcessIdPlaces(const std::vector<sock_filter>& program) {
  std::vector<size_t> places;
  for (size_t i = 0; i < program.size(); ++i)
    if (program[i].code == (BPF_JMP | BPF_JEQ | BPF_K) &&
        program[i].k == os::confine::kProcessIdSlot)
      places.push_back(i);
  return places;
}

// A filter that could not be made, or whose signals to itself are not where
// the run will write its id, fails the build.
bool Write(FILE* out, const char* name, FilterKind kind) {
  std::vector<sock_filter> program = Compile(kind);
  std::vector<size_t> places = ProcessIdPlaces(program);
  if (program.empty() ||
      (kind != FilterKind::NoSignals && kind != FilterKind::NoGroupSignals && places.empty())) {
    fprintf(stderr, "make_syscall_filter: the filter %s could not be made\n", name);
    return false;
  }
  fprintf(out, "inline constexpr sock_filter %s[] = {\n", name);
  for (const sock_filter& i : program)
    fprintf(out, "    {0x%04x, %u, %u, 0x%08x},\n", i.code, i.jt, i.jf, static_cast<unsigned>(i.k));
  fprintf(out, "};\ninline constexpr unsigned short %sProcessIdAt[] = {", name);
  for (size_t place : places) fprintf(out, "%zu, ", place);
  fprintf(out, "%zu};\n", program.size());  // the end: no place, read as the list's end
  return true;
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
  fprintf(out,
          "// Generated from os/confine/syscall_allow_list.cpp by make_syscall_filter.\n#pragma "
          "once\n");
  fprintf(out, "#include <linux/filter.h>\n\nnamespace os::confine::bpf {\n\n");
  bool made = Write(out, "kRun", FilterKind::Run) && Write(out, "kHangUp", FilterKind::HangUp) &&
              Write(out, "kPrivileged", FilterKind::Privileged) &&
              Write(out, "kPrivilegedConnect", FilterKind::PrivilegedConnect) &&
              Write(out, "kNetwork", FilterKind::Network) &&
              Write(out, "kNoSignals", FilterKind::NoSignals) &&
              Write(out, "kNoGroupSignals", FilterKind::NoGroupSignals);
  fprintf(out, "\n}  // namespace os::confine::bpf\n");
  if (fclose(out) != 0 || !made) {
    remove(argv[1]);  // no half-written header may pass for a filter
    return 1;
  }
  return 0;
}
