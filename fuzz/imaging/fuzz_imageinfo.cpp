// TDCImageInfo::ReadInfo on arbitrary file contents: never raises, never reads past the
// file, always ends.
#include "imaging/DCImageInfo.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {
// One scratch file per process, removed at exit.
struct Scratch {
  // In memory when the system offers it: the target writes a file per input.
  std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                     "/plm-fuzz-imageinfo-" + std::to_string(getpid());
  ~Scratch() { unlink(path.c_str()); }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Scratch scratch;
  const std::string &path = scratch.path;
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  plm::TDCImageInfo info;
  info.ReadInfo(path);
  if (info.FileSize != int64_t(size)) __builtin_trap();
  if (info.ImageType > 6) __builtin_trap();
  if (info.ImageType == 0 && (info.Width || info.Height || info.Depth)) __builtin_trap();
  return 0;
}
