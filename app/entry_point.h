#pragma once
// One start of the program, from the command-line text to the exit status.
#include <cstdint>

// The program's own instance handle, stored once at entry.
extern void* programInstance;

// What the options that are no keyword ask of a start (set by main).
struct StartOptions {
  const char* configFile = nullptr;  // --config-file: the one configuration file
  bool showSettings = false;         // print the settings in effect, run nothing
};
StartOptions& TheStartOptions();

// The exit status of a start whose configuration file cannot be read.
constexpr int32_t kUsageStatus = 2;

// The entry point: "#CONFIG" edits the configuration and returns 0;
// "#REGISTER" reads the settings, registers with the shell and returns 0;
// anything else makes one synchronisation run and returns its code.
int32_t HorolanEntry(void* instance, const char16_t* commandLine);

// The process exit status for a result code: its low 8 bits, except that a
// failure whose low 8 bits are 0 exits with 1 (never reads as success).
int ExitStatusForCode(int32_t code);
