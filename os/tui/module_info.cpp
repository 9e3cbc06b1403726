// Lets the loader check that the module beside the executable is ours.
extern "C" __attribute__((visibility("default"))) const char* horolan_tui_module_name() { return "horolan_tui"; }
