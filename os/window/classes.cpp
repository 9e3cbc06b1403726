// Window classes and the process-wide records of the window layer.
#include <cerrno>

#include "os/base/last_error.h"
#include "os/base/text.h"
#include "os/window/edit.h"
#include "os/window/internal/state.h"
#include "os/window/window.h"

namespace os {
namespace win {

State& S() {
  static State state;
  return state;
}

WindowRecord* Find(WinHandle window) {
  if (!window) return nullptr;
  auto& windows = S().windows;
  auto it = windows.find(IdOf(window));
  return it == windows.end() ? nullptr : it->second.get();
}

namespace {

bool SameName(const std::u16string& a, const char16_t* b) {
  size_t n = WideLength(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

void EnsureSystemClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterEditClass();
}

}  // namespace

const ClassRecord* FindClass(const char16_t* name) {
  EnsureSystemClasses();
  if (!name) return nullptr;
  for (const ClassRecord& record : S().classes)
    if (SameName(record.name, name)) return &record;
  return nullptr;
}

}  // namespace win

uint16_t RegisterClass(const WindowClass* windowClass) {
  if (!windowClass || !windowClass->procedure || !windowClass->className ||
      !windowClass->className[0]) {
    SetLastError(EINVAL);
    return 0;
  }
  if (win::FindClass(windowClass->className)) {
    SetLastError(EEXIST);
    return 0;
  }
  win::State& s = win::S();
  win::ClassRecord record;
  record.name = windowClass->className;
  record.procedure = windowClass->procedure;
  record.background = windowClass->background;
  record.atom = s.nextAtom++;
  if (s.nextAtom == 0) s.nextAtom = 0xC000;
  s.classes.push_back(record);
  return record.atom;
}

}  // namespace os
