#pragma once
// Where the compressed blocks of the cabinet being filled wait until the cabinet is
// written: in memory up to a limit, then in a temporary file named by the caller.
#include "platform/plmcab/fci_io.h"

#include <cstddef>
#include <string>
#include <vector>

namespace plmcab::fci {

class SpillStore {
public:
  static constexpr size_t kHoldLimit = 32u << 20; // bytes kept in memory before spilling

  SpillStore(const FileCallbacks &io, PFNFCIGETTEMPFILE getTemp) : io(io), getTemp(getTemp) {}

  // Adds bytes after those already stored.
  void Append(const uint8_t *p, uint32_t n);

  // Writes the bytes stored for the cabinet (`bytes` of them) into the cabinet file hf
  // and empties the store for the next cabinet. err is the error slot of the cabinet
  // write in progress.
  void CopyTo(CABHANDLE hf, uint32_t bytes, int &err);

  // Closes and deletes the temporary file if there is one; false if either failed, with
  // the callback's error in err.
  bool Release(int &err);

private:
  void EnsureTemp();

  FileCallbacks io;
  PFNFCIGETTEMPFILE getTemp;
  CABHANDLE temp = -1;
  std::string tempName;
  std::vector<uint8_t> held; // the cabinet's blocks, until they pass kHoldLimit
  bool spilled = false;      // the cabinet's blocks are in the temporary file
};

} // namespace plmcab::fci
