#pragma once
// A cabinet set as it is filled: files go into folders, folders into cabinets, and a
// cabinet that would pass its size limit is closed, the folder being filled going on in
// the next cabinet of the set.
#include "platform/plmcab/fci_block.h"
#include "platform/plmcab/fci_layout.h"
#include "platform/plmcab/fci_spill.h"

#include <cstdint>
#include <vector>

namespace plmcab::fci {

class CabinetSet {
public:
  CabinetSet(const FileCallbacks &io, PFNFCIGETTEMPFILE getTemp, PFNFCIFILEPLACED filePlaced,
             const CCAB &ccab);

  // The call in progress hands these over.
  void SetCallbacks(PFNFCIGETNEXTCABINET next, PFNFCISTATUS stat) {
    getNext = next;
    status = stat;
  }

  // Adds file (name, size, date, time and attributes set) with its data read from src.
  void AddFile(SourceFile &src, Entry file, uint16_t comp);
  // Ends the open folder, if any.
  void CloseFolder();
  // Writes the current cabinet: the next one of the set follows if getNextCab, else the
  // set ends.
  void FlushCabinet(bool getNextCab);
  // Closes and deletes the temporary file; false if that failed, with its error in err.
  bool Release(int &err) { return spill.Release(err); }

private:
  void Status(uint32_t kind, uint32_t cb1, uint32_t cb2);
  void Placed(const Entry &e, bool continuation);
  CCAB NextCabinet(uint32_t prevSize);
  uint32_t CurrentEstimate() const;

  void OpenFolder(uint16_t comp);
  void StoreBlockPart(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp);
  void EmitBlock();

  void WriteCabinet(const std::string &nextCab, const std::string &nextDisk, uint32_t estimate);
  void ResetCabinet();
  void AdvanceTo(const CCAB &next);
  void Split();
  void StartNewSet();
  void MakeRoom(const Entry &file, uint16_t comp);

  FileCallbacks io;
  PFNFCIFILEPLACED filePlaced;
  CCAB ccab;
  PFNFCIGETNEXTCABINET getNext = nullptr;
  PFNFCISTATUS status = nullptr;

  CabinetLayout cab; // the cabinet being filled
  SpillStore spill;
  BlockEncoder encoder;

  bool folderOpen = false;
  bool folderCarried = false; // the open folder came over from the previous cabinet
  uint32_t folderU = 0;       // uncompressed bytes given to the open folder
  std::vector<uint8_t> pending;

  bool cabPending = true; // the current cabinet is still to be written
  bool setEnded = false;  // the last flush ended the set
};

} // namespace plmcab::fci
