// The editor's costs that grow with the text: one typed character in a text
// of N lines (the change, the view, the repaint and the screen update), and
// setting the whole text, on an in-memory screen of 120 x 40 cells.
#include <benchmark/benchmark.h>

#include <string>

#include "os/window/edit.h"
#include "os/window/window.h"
#include "tests/support/memory_screen.h"

namespace {

intptr_t Plain(os::WinHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return os::DefWindowProc(window, message, wParam, lParam);
}

std::u16string Lines(int64_t count) {
  std::u16string text;
  for (int64_t i = 0; i < count; ++i)
    text += u";#nserver(time-" + std::u16string(1, u'a' + i % 26) + u"-g.nist.gov)\r\n";
  return text;
}

struct Editor {
  os::WinHandle top = nullptr, edit = nullptr;
  Editor() {
    InstallMemoryScreen(120, 40);
    os::WindowClass windowClass;
    windowClass.procedure = Plain;
    windowClass.className = u"BenchParent";
    os::RegisterClass(&windowClass);
    top = os::CreateWindowEx(0, u"BenchParent", u"Bench", os::WS_VISIBLE, os::CW_USEDEFAULT, 0,
                             os::CW_USEDEFAULT, 0, nullptr, nullptr, nullptr, nullptr);
    edit = os::CreateWindowEx(0, u"EDIT", u"",
                              os::WS_CHILD | os::WS_VISIBLE | os::WS_VSCROLL | os::WS_HSCROLL |
                                  os::ES_MULTILINE | os::ES_WANTRETURN,
                              1, 1, 118, 36, top, reinterpret_cast<void*>(intptr_t{7}), nullptr,
                              nullptr);
    os::SetFocus(edit);
  }
  ~Editor() {
    os::DestroyWindow(top);
    os::SetScreenFunctions(nullptr);
  }
};

void BM_TypeOneCharacter(benchmark::State& state) {
  Editor editor;
  std::u16string text = Lines(state.range(0));
  os::SendMessage(editor.edit, os::WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text.c_str()));
  os::SendMessage(editor.edit, os::EM_SETSEL, text.size() / 2, text.size() / 2);
  os::UpdateWindow(editor.top);
  for (auto _ : state) {
    os::SendMessage(editor.edit, os::WM_CHAR, u'x', 0);
    os::UpdateWindow(editor.top);
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TypeOneCharacter)->RangeMultiplier(10)->Range(10, 100000)->Complexity();

void BM_SetText(benchmark::State& state) {
  Editor editor;
  std::u16string text = Lines(state.range(0));
  for (auto _ : state) {
    os::SendMessage(editor.edit, os::WM_SETTEXT, 0, reinterpret_cast<intptr_t>(text.c_str()));
    os::UpdateWindow(editor.top);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size() * 2));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SetText)->RangeMultiplier(10)->Range(10, 100000)->Complexity();

}  // namespace

BENCHMARK_MAIN();
