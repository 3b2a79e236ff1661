#pragma once
// The progress bar the verbs draw on a terminal: "[####      ]", width characters between
// the brackets, filled in proportion to done of total (full when there is nothing to do).
#include <algorithm>
#include <cstddef>
#include <string>

namespace plmtool {

inline std::string ProgressBar(size_t done, size_t total, size_t width) {
  const size_t filled = total ? std::min(done, total) * width / total : width;
  return "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "]";
}

} // namespace plmtool
