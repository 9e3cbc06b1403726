// MatchWildcard against the dynamic-programming reference: any input where
// the two disagree is a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sources/web_cache_purge.h"
#include "tests/sources/wildcard_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 512) return 0;
  // The first byte chooses how the rest becomes units: a small alphabet
  // (so that stars and question marks meet matching names often), or each
  // byte as a unit of its own. A zero byte separates pattern from name.
  static const char16_t kAlphabet[] = {u'a', u'b', u'.', u'?', u'*', 0xDCFF, u'A', u'*'};
  bool small = data[0] & 1;
  std::u16string pattern, name;
  std::u16string* into = &pattern;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0 && into == &pattern) {
      into = &name;
      continue;
    }
    char16_t unit = small ? kAlphabet[data[i] & 7] : static_cast<char16_t>(data[i] ? data[i] : 1);
    into->push_back(unit);
  }
  if (MatchWildcard(pattern.c_str(), name.c_str()) != ReferenceMatch(pattern, name)) abort();
  return 0;
}
