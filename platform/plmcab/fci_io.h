#pragma once
// What every part of the cabinet writer shares: its failure, the caller's file callbacks
// and the source file being added.
#include "platform/plmcab/fdi_fci.h"

#include <cstdint>

namespace plmcab::fci {

// Raised by any part of the writer; the entry point turns it into the error record.
class Failure {
public:
  Failure(int code, int type = 0) : code(code), type(type) {}
  int code, type;
};

// The caller's file callbacks and its context pointer: every byte the writer reads or
// writes, cabinets and temporary file alike, goes through them.
struct FileCallbacks {
  PFNFCIOPEN open = nullptr;
  PFNFCIREAD read = nullptr;
  PFNFCIWRITE write = nullptr;
  PFNFCICLOSE close = nullptr;
  PFNFCISEEK seek = nullptr;
  PFNFCIDELETE remove = nullptr;
  void *pv = nullptr;

  // Writes n bytes or raises code with the callback's error.
  void WriteAll(CABHANDLE hf, const void *p, uint32_t n, int code) const {
    int err = 0;
    if (n == 0) return;
    if (write(hf, const_cast<void *>(p), n, &err, pv) != n) throw Failure(code, err);
  }
};

// A source file opened by the caller's getOpenInfo callback, closed when it goes. Its
// error slot starts with what getOpenInfo left there and is shared by every later call.
class SourceFile {
public:
  SourceFile(const FileCallbacks &io, CABHANDLE hf, int err) : io(io), hf(hf), err(err) {}
  ~SourceFile() {
    int ignored = 0;
    io.close(hf, &ignored, io.pv);
  }
  SourceFile(const SourceFile &) = delete;
  SourceFile &operator=(const SourceFile &) = delete;

  // The file's length; the file is left at its start.
  uint32_t Size() {
    const int32_t end = io.seek(hf, 0, 2, &err, io.pv);
    if (end < 0 || io.seek(hf, 0, 0, &err, io.pv) != 0) throw Failure(FCIERR_READ_SRC, err);
    return uint32_t(end);
  }

  // Reads exactly n bytes: a short file is as much a failure as a read error.
  void Read(uint8_t *p, uint32_t n) {
    const uint32_t got = io.read(hf, p, n, &err, io.pv);
    if (got != n) throw Failure(FCIERR_READ_SRC, got == uint32_t(-1) ? err : 0);
  }

private:
  const FileCallbacks &io;
  CABHANDLE hf;
  int err;
};

} // namespace plmcab::fci
