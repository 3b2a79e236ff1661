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
  explicit TFileProgress(size_t total = 0) : fTotal(total), fBar(plm::IsTerminal(2)) {}
  // One more file done: "PATH: what".
  void Step(const std::string &path, const char *what) {
    Show(++fDone, fTotal, plm::ToDisplayUtf8(path) + ": " + what);
  }
  // Where the work stands; line is written when there is no bar (nothing when empty).
  void Show(size_t done, size_t total, const std::string &line) {
    if (!fBar) {
      if (line.empty()) return;
      std::fprintf(stderr, "%s\n", line.c_str());
    } else {
      std::fprintf(stderr, "\r%s %zu / %zu", ProgressBar(done, total, 30).c_str(), done, total);
      if (done == total) std::fputc('\n', stderr);
    }
    std::fflush(stderr);
  }
  bool Bar() const { return fBar; }

private:
  size_t fTotal, fDone = 0;
  bool fBar;
};

} // namespace plmtool
