#pragma once
// The run settings: built-in starting values, then the configuration files
// (app/config_files.h), then the command-line keywords.
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
  bool nts = false;                // authenticated SNTP (NTS); never an unauthenticated run
  os::WideBuffer<260> server;
  // "#MAXSTEP(SECONDS)" or "#MAXSTEP(ANY)": the clock is stepped only by less
  // than this many seconds. kMaxStepDefault: under an hour for SNTP, no limit
  // for daytime; kMaxStepAny: no limit.
  int64_t maxStep = 0;
  // Not a setting: the earliest the time can truly be (seconds since 1970),
  // the later of the build time and the last authenticated run, read by the
  // run before it asks. No answer before it is taken.
  int64_t timeFloor = 0;
  int samples = 1;        // "#SAMPLES(K)": SNTP requests of a burst, 1 to 8
  double maxDelay = 0.0;  // "#MAXDELAY(SECONDS)": the round-trip limit; 0: none given
};

constexpr int64_t kMaxStepDefault = 0;
constexpr int64_t kMaxStepAny = -1;
constexpr int64_t kSntpStepLimit = 3600;
// The number of seconds in "#MAXSTEP(...)" ("ANY" in any case, or a whole
// number from 1 to 10^12); false, leaving out alone, for anything else.
bool ParseMaxStep(const char16_t* text, int64_t& out);

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

// Where a setting was last set, for --show-settings: built in, a line of one
// of the configuration files read (by their index), or the command line.
struct SettingOrigin {
  static constexpr int kBuiltIn = -1;
  static constexpr int kCommandLine = -2;
  int file = kBuiltIn;
  uint32_t line = 0;  // 1 for the first line
};
struct SettingOrigins {
  SettingOrigin mode, onlyShow, silent, keepCache, useConnection, connection, nts, server, maxStep,
      samples, maxDelay;
};

// Applies the keywords of one configuration line (already cut at ";"); with
// origins, each setting a keyword names is marked as set at here.
void ApplyConfigLine(const char16_t* line, RunSettings& settings, SettingOrigins* origins = nullptr,
                     SettingOrigin here = {});
// Reads the configuration file and applies its keywords; a file that cannot
// be read leaves the settings as they were. False when nothing was read.
bool LoadConfigFile(const char16_t* path, RunSettings& settings = TheRunSettings(),
                    SettingOrigins* origins = nullptr, int fileIndex = 0);
// Applies the switch and mode keywords of the command line.
void ApplyCommandLine(const char16_t* commandLine, RunSettings& settings = TheRunSettings(),
                      SettingOrigins* origins = nullptr);

// The configuration path for a module path: the first ".exe" (any case)
// becomes ".txt"; a path without ".exe" gets ".txt" appended. False (and out
// empty) when the result does not fit: a truncated path is never used.
bool MakeConfigPathFrom(const char16_t* modulePath, char16_t* out, size_t capacity);
// The configuration path of this executable, into a 260-unit buffer.
bool MakeConfigPath(char16_t* out, size_t capacity = kPathCapacity);
