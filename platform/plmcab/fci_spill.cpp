// The temporary file is opened the first time a cabinet's blocks pass the memory limit
// and kept for the whole context: each cabinet rewinds it and writes from its start.
#include "platform/plmcab/fci_spill.h"

#include <algorithm>

namespace plmcab::fci {

namespace {
constexpr uint32_t kCopyChunk = 1024 * 1024;
}

void SpillStore::EnsureTemp() {
  if (temp != -1) return;
  char name[CB_MAX_FILENAME] = {0};
  if (!getTemp || !getTemp(name, sizeof name, io.pv)) throw Failure(FCIERR_TEMP_FILE);
  name[sizeof name - 1] = 0;
  int err = 0;
  temp = io.open(name, CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY,
                 CAB_S_IREAD | CAB_S_IWRITE, &err, io.pv);
  if (temp == -1) throw Failure(FCIERR_TEMP_FILE, err);
  tempName = name;
}

void SpillStore::Append(const uint8_t *p, uint32_t n) {
  if (!spilled && held.size() + n <= kHoldLimit) {
    held.insert(held.end(), p, p + n);
    return;
  }
  if (!spilled) {
    EnsureTemp();
    io.WriteAll(temp, held.data(), uint32_t(held.size()), FCIERR_TEMP_FILE);
    held.clear();
    spilled = true;
  }
  io.WriteAll(temp, p, n, FCIERR_TEMP_FILE);
}

void SpillStore::CopyTo(CABHANDLE hf, uint32_t bytes, int &err) {
  if (!spilled) {
    io.WriteAll(hf, held.data(), uint32_t(held.size()), FCIERR_CAB_FILE);
  } else {
    if (io.seek(temp, 0, 0, &err, io.pv) != 0) throw Failure(FCIERR_TEMP_FILE, err);
    std::vector<uint8_t> buf(kCopyChunk);
    uint32_t left = bytes;
    while (left > 0) {
      const uint32_t n = std::min<uint32_t>(left, kCopyChunk);
      if (io.read(temp, buf.data(), n, &err, io.pv) != n) throw Failure(FCIERR_TEMP_FILE, err);
      io.WriteAll(hf, buf.data(), n, FCIERR_CAB_FILE);
      left -= n;
    }
    if (io.seek(temp, 0, 0, &err, io.pv) != 0) throw Failure(FCIERR_TEMP_FILE, err);
  }
  held.clear();
  spilled = false;
}

bool SpillStore::Release(int &err) {
  if (temp == -1) return true;
  bool ok = true;
  if (io.close(temp, &err, io.pv) != 0) ok = false;
  if (io.remove(tempName.data(), &err, io.pv) != 0) ok = false;
  return ok;
}

} // namespace plmcab::fci
