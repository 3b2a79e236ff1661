// FDICopy and FDIIsCabinet over arbitrary bytes. Every file callback works in memory;
// the library must never crash, hang, leak memory or leave a handle open.
#include "platform/plmcab/fdi_fci.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const uint8_t *gData = nullptr;
size_t gSize = 0;
uint64_t gWritten = 0;
int gOpen = 0;
constexpr uint64_t kOutputCap = 64ull << 20; // decoded bytes allowed per input

struct MemFile {
  bool output;
  size_t pos;
};

CABHANDLE Open(char *, int oflag, int) {
  ++gOpen;
  return CABHANDLE(new MemFile{(oflag & 3) != 0, 0});
}

uint32_t Read(CABHANDLE hf, void *pv, uint32_t cb) {
  auto *f = reinterpret_cast<MemFile *>(hf);
  if (f->output) return uint32_t(-1);
  const size_t n = f->pos >= gSize ? 0 : std::min<size_t>(cb, gSize - f->pos);
  if (n) std::memcpy(pv, gData + f->pos, n);
  f->pos += n;
  return uint32_t(n);
}

uint32_t Write(CABHANDLE hf, void *, uint32_t cb) {
  auto *f = reinterpret_cast<MemFile *>(hf);
  gWritten += cb;
  if (!f->output || gWritten > kOutputCap) return uint32_t(-1);
  return cb;
}

int Close(CABHANDLE hf) {
  --gOpen;
  delete reinterpret_cast<MemFile *>(hf);
  return 0;
}

int32_t Seek(CABHANDLE hf, int32_t dist, int type) {
  auto *f = reinterpret_cast<MemFile *>(hf);
  int64_t base = type == 0 ? 0 : type == 1 ? int64_t(f->pos) : int64_t(gSize);
  const int64_t p = base + dist;
  if (p < 0 || p > INT32_MAX) return -1;
  f->pos = size_t(p);
  return int32_t(p);
}

CABHANDLE Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  switch (type) {
  case fdintCOPY_FILE:
    return n->cb > (16 << 20) ? 0 : Open(nullptr, CAB_O_WRONLY, 0);
  case fdintCLOSE_FILE_INFO:
    Close(n->hf);
    return 1;
  case fdintNEXT_CABINET:
    return n->fdie == FDIERROR_NONE ? 0 : -1;
  default:
    return 0;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  gData = data;
  gSize = size;
  gWritten = 0;
  ERF erf{};
  HFDI h = FDICreate([](uint32_t cb) { return std::malloc(cb); }, [](void *p) { std::free(p); },
                     Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  if (!h) std::abort();
  char name[] = "in.cab", path[] = "";
  if (!FDICopy(h, name, path, 0, Notify, nullptr, nullptr) && !erf.fError) std::abort();
  FDICABINETINFO info;
  const CABHANDLE hf = Open(name, 0, 0);
  FDIIsCabinet(h, hf, &info);
  Close(hf);
  FDIDestroy(h);
  if (gOpen != 0) std::abort(); // a handle the library opened was never closed
  return 0;
}
