// A slow, obviously right wild-card matcher that the real one is checked against.
#pragma once
#include <string>
#include <vector>

// Whether some split of t matches p, '~' standing for one or more characters.
inline bool ReferenceMatch(const std::string& t, const std::string& p) {
  std::vector<std::vector<char>> ok(p.size() + 1, std::vector<char>(t.size() + 1, 0));
  ok[p.size()][t.size()] = 1;
  for (size_t i = p.size(); i-- > 0;)
    for (size_t j = t.size() + 1; j-- > 0;) {
      if (p[i] == '~') {
        for (size_t k = j + 1; k <= t.size() && !ok[i][j]; ++k)
          ok[i][j] = ok[i + 1][k];
      } else {
        ok[i][j] = j < t.size() && t[j] == p[i] && ok[i + 1][j + 1];
      }
    }
  return ok[0][0];
}
