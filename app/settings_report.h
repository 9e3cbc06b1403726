#pragma once
// --show-settings: the settings a run would use and where each came from.
#include <string>

#include "app/config_files.h"
#include "app/run_settings.h"

// The report's text: the configuration files in the order read, then one
// line a setting: its name, its value (the server as the run would ask it)
// and its origin (built in, FILE:LINE, the command line).
std::string ComposeSettingsReport(const RunSettings& settings, const SettingOrigins& origins,
                                  const ConfigFiles& files, const bool* read,
                                  const char16_t* commandLine);

// Prints the report on standard output.
void PrintSettings(const RunSettings& settings, const SettingOrigins& origins,
                   const ConfigFiles& files, const bool* read, const char16_t* commandLine);
