// Writes a few small cabinets through the library's own FCI, as seeds for the FDICopy
// fuzzer: stored, MSZIP, with reserved areas, and the first cabinet of a set.
#include "platform/plmcab/fdi_fci.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string gDir;
int gTemp = 0;

CABHANDLE Open(char *name, int oflag, int, int *err, void *) {
  int flags = (oflag & 3) == 0 ? O_RDONLY : (oflag & 3) == 1 ? O_WRONLY : O_RDWR;
  if (oflag & CAB_O_CREAT) flags |= O_CREAT;
  if (oflag & CAB_O_TRUNC) flags |= O_TRUNC;
  const int fd = ::open(name, flags, 0644);
  if (fd < 0) *err = errno;
  return fd;
}
uint32_t Read(CABHANDLE hf, void *p, uint32_t cb, int *, void *) {
  return uint32_t(::read(int(hf), p, cb));
}
uint32_t Write(CABHANDLE hf, void *p, uint32_t cb, int *, void *) {
  return uint32_t(::write(int(hf), p, cb));
}
int Close(CABHANDLE hf, int *, void *) { return ::close(int(hf)); }
int32_t Seek(CABHANDLE hf, int32_t d, int t, int *, void *) {
  return int32_t(::lseek(int(hf), d, t));
}
int Delete(char *name, int *, void *) { return ::unlink(name); }
CABBOOL TempFile(char *buf, int cb, void *) {
  std::snprintf(buf, size_t(cb), "%s/.tmp%d", gDir.c_str(), gTemp++);
  return 1;
}
CABHANDLE OpenInfo(char *name, uint16_t *d, uint16_t *t, uint16_t *a, int *err, void *pv) {
  *d = 0x5A21;
  *t = 0x6000;
  *a = _A_ARCH;
  return Open(name, CAB_O_RDONLY, 0, err, pv);
}
CABBOOL NextCab(PCCAB c, uint32_t, void *) {
  std::snprintf(c->szCab, sizeof c->szCab, "next%d.cab", c->iCab);
  return 1;
}

void WriteSource(const std::string &path, size_t size, unsigned seed, bool text) {
  FILE *f = std::fopen(path.c_str(), "wb");
  unsigned x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    std::fputc(text ? "abcde \n"[(x >> 16) % 7] : int(x >> 16), f);
  }
  std::fclose(f);
}

bool Make(const char *name, TCOMP comp, uint32_t reserve, uint32_t maxSize) {
  CCAB ccab{};
  ccab.cb = maxSize;
  ccab.cbFolderThresh = 0x7FFFFFFF;
  ccab.cbReserveCFHeader = reserve;
  ccab.cbReserveCFFolder = reserve ? 4 : 0;
  ccab.cbReserveCFData = reserve ? 2 : 0;
  ccab.iCab = 1;
  std::snprintf(ccab.szCab, sizeof ccab.szCab, "%s", name);
  std::snprintf(ccab.szCabPath, sizeof ccab.szCabPath, "%s/", gDir.c_str());
  ERF erf{};
  HFCI h = FCICreate(
      &erf, nullptr, [](uint32_t n) { return std::malloc(n); }, [](void *p) { std::free(p); }, Open,
      Read, Write, Close, Seek, Delete, TempFile, &ccab, nullptr);
  if (!h) return false;
  const std::string a = gDir + "/.a", b = gDir + "/.b", c = gDir + "/.c";
  WriteSource(a, 3000, 1, true);
  WriteSource(b, 700, 2, false);
  WriteSource(c, 0, 3, false);
  char sa[] = "a.txt", sb[] = "sub\\b.bin", sc[] = "empty";
  bool ok = FCIAddFile(h, (char *)a.c_str(), sa, 0, NextCab, nullptr, OpenInfo, comp) &&
            FCIAddFile(h, (char *)b.c_str(), sb, 1, NextCab, nullptr, OpenInfo, comp) &&
            FCIAddFile(h, (char *)c.c_str(), sc, 0, NextCab, nullptr, OpenInfo, comp) &&
            FCIFlushCabinet(h, 0, NextCab, nullptr);
  ok = FCIDestroy(h) && ok;
  ::unlink(a.c_str());
  ::unlink(b.c_str());
  ::unlink(c.c_str());
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  gDir = argv[1];
  ::mkdir(gDir.c_str(), 0755);
  const bool ok = Make("stored.cab", tcompTYPE_NONE, 0, 0x7FFFFFFF) &&
                  Make("mszip.cab", tcompTYPE_MSZIP, 0, 0x7FFFFFFF) &&
                  Make("reserve.cab", tcompTYPE_MSZIP, 20, 0x7FFFFFFF) &&
                  Make("set.cab", tcompTYPE_NONE, 0, 2000);
  return ok ? 0 : 1;
}
