#pragma once
// The meaning of a file-name pattern, written the slow and obvious way: dynamic programming over pattern and name.
// "*" any run, "?" one unit, anything else itself; "*.*" alone means "*".
#include <string>
#include <vector>

inline bool ReferenceMatch(std::u16string pattern, const std::u16string& name) {
  if (pattern == u"*.*") pattern = u"*";
  // can[i][j]: the first i pattern units match the first j name units.
  std::vector<std::vector<bool>> can(pattern.size() + 1, std::vector<bool>(name.size() + 1, false));
  can[0][0] = true;
  for (size_t i = 1; i <= pattern.size(); ++i) {
    for (size_t j = 0; j <= name.size(); ++j) {
      char16_t p = pattern[i - 1];
      if (p == u'*')
        can[i][j] = can[i - 1][j] || (j > 0 && can[i][j - 1]);
      else
        can[i][j] = j > 0 && can[i - 1][j - 1] && (p == u'?' || p == name[j - 1]);
    }
  }
  return can[pattern.size()][name.size()];
}
