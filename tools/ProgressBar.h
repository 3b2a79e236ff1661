#pragma once
// The progress bar the verbs draw on a terminal: "[####      ]", width characters between
// the brackets, filled in proportion to done of total (full when there is nothing to do).
#include "platform/FileIO.h"
#include "platform/Strings.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

namespace plmtool {

inline std::string ProgressBar(size_t done, size_t total, size_t width) {
  const size_t filled = total ? std::min(done, total) * width / total : width;
  return "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "]";
}

// The progress of a verb that works file after file, on standard error (standard output
// keeps the verb's results): a bar redrawn in place on a terminal, otherwise a line a
// file ("PATH: what").
class TFileProgress {
public:
  explicit TFileProgress(size_t total) : fTotal(total), fBar(plm::IsTerminal(2)) {}
  void Step(const std::string &path, const char *what) {
    ++fDone;
    if (!fBar) {
      std::fprintf(stderr, "%s: %s\n", plm::ToDisplayUtf8(path).c_str(), what);
    } else {
      std::fprintf(stderr, "\r%s %zu / %zu", ProgressBar(fDone, fTotal, 30).c_str(), fDone, fTotal);
      if (fDone == fTotal) std::fputc('\n', stderr);
    }
    std::fflush(stderr);
  }

private:
  size_t fTotal, fDone = 0;
  bool fBar;
};

} // namespace plmtool
