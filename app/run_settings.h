#pragma once
// The run settings: built-in starting values, then the configuration file
// beside the executable, then the command-line keywords.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "os/base/text.h"

enum TimeSourceMode : int32_t {
  Sntp = 0,
  Nist = 1,
};

struct RunSettings {
  int32_t mode = Nist;
  bool onlyShow = false;
  bool silent = false;
  bool keepCache = false;
  bool useConnection = false;
  os::WideBuffer<256> connection;  // "#CONNECTION(NAME)": the profile "#CONNECT" brings up
  bool nts = false;  // authenticated SNTP (NTS); never an unauthenticated run
  os::WideBuffer<260> server;
  int samples = 1;         // "#SAMPLES(K)": SNTP requests of a burst, 1 to 8
  double maxDelay = 0.0;   // "#MAXDELAY(SECONDS)": the round-trip limit; 0: none given
};

// The round-trip delay limit of an SNTP run in seconds: the one given, else
// 1 s for NTS (authentication bounds the time only to half the delay), else
// none (0).
double RoundTripLimit(const RunSettings& settings);

// The one process-wide record.
RunSettings& TheRunSettings();

// The configuration file's text with a reading position. Owns its buffer and
// releases it on every path.
struct ConfigText {
  std::unique_ptr<char[]> buffer;
  size_t size = 0;    // bytes of the file; four zero bytes follow them
  size_t cursor = 0;  // index of the next line in buffer

  // Releases any text held, reads the file up to kConfigReadCap bytes (the
  // rest is ignored); true when text was read.
  bool Load(const char16_t* path);
  // The next line as wide text in line (capacity units with the
  // terminator), or null at the end of the text.
  char16_t* NextLine(char16_t* line, size_t capacity);
  void Clear();
};

constexpr size_t kConfigLineCapacity = 512;
// No real configuration comes near this: a huge file costs neither its size
// in memory nor the time to read it.
constexpr size_t kConfigReadCap = size_t{1} << 20;
constexpr size_t kPathCapacity = 260;

// Applies the keywords of one configuration line (already cut at ";").
void ApplyConfigLine(const char16_t* line, RunSettings& settings);
// Reads the configuration file and applies its keywords; a file that cannot
// be read leaves the settings as they were.
void LoadConfigFile(const char16_t* path, RunSettings& settings = TheRunSettings());
// Applies the switch and mode keywords of the command line.
void ApplyCommandLine(const char16_t* commandLine, RunSettings& settings = TheRunSettings());

// The configuration path for a module path: the first ".exe" (any case)
// becomes ".txt"; a path without ".exe" gets ".txt" appended. False (and out
// empty) when the result does not fit: a truncated path is never used.
bool MakeConfigPathFrom(const char16_t* modulePath, char16_t* out, size_t capacity);
// The configuration path of this executable, into a 260-unit buffer.
bool MakeConfigPath(char16_t* out, size_t capacity = kPathCapacity);
