#pragma once
// The cabinet being filled: its place in the set, its folders and file entries, their
// sizes in the cabinet file, and the writing of the finished cabinet.
#include "platform/plmcab/fci_spill.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plmcab::fci {

struct Entry {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0; // in its folder, uncompressed
  uint16_t date = 0, time = 0, attribs = 0;
  size_t folder = 0; // index in the cabinet's folder list
  bool fromPrev = false, toNext = false;
};

// The part of a folder that lies in this cabinet.
struct FolderPart {
  uint16_t comp = 0;
  uint32_t dataStart = 0; // offset of its blocks in the spill store
  uint32_t dataBytes = 0; // bytes of its blocks, headers included
  uint32_t blocks = 0;
  uint32_t uStart = 0; // offset in the whole folder of this part's first block
  uint32_t uBytes = 0;
};

// Bytes reserved in the header, in each folder entry and in each data block; the same
// in every cabinet of a set.
struct Reserves {
  uint32_t header = 0, folder = 0, data = 0;
  bool Any() const { return header || folder || data; }
};

struct CabinetLayout {
  static constexpr uint32_t kMaxFiles = 0xFFFF;

  Reserves res;

  // Place in the set.
  uint16_t iCabinet = 0;
  bool hasPrev = false;
  std::string prevCab, prevDisk;

  // Contents.
  std::vector<FolderPart> folders;
  std::vector<Entry> entries;
  uint64_t entryBytes = 0; // size of the file entries
  uint32_t dataBytes = 0;  // size of the data blocks, headers included

  static uint32_t EntryBytes(const std::string &name);
  uint32_t HeaderBytes(uint32_t nextNames) const;
  // Size of the cabinet with extra more bytes, room kept for the next cabinet's names.
  uint64_t Estimate(uint64_t extra) const;

  // Empties the contents; the place in the set stays.
  void Clear();
  // Lists e, adding its entry's size.
  void Add(const Entry &e);
  // Counts one more data block of `bytes` in the last folder.
  void AddBlock(uint32_t bytes);

  // Writes the cabinet through io to ccab's path and name, its blocks taken from spill;
  // nextCab empty for the last of a set. Returns the cabinet's size.
  uint32_t Write(const FileCallbacks &io, const CCAB &ccab, SpillStore &spill,
                 const std::string &nextCab, const std::string &nextDisk) const;

private:
  // Header, folder and file tables; raises if the cabinet passes a format limit.
  std::string Tables(uint16_t setID, const std::string &nextCab, const std::string &nextDisk,
                     uint32_t &total) const;
};

} // namespace plmcab::fci
