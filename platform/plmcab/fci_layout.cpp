// The tables of a cabinet come first in the file, so a cabinet is written only once it
// is full: tables built in memory, then the blocks copied after them.
#include "platform/plmcab/fci_layout.h"

#include "platform/plmcab/CabFormat.h"

#include <climits>

namespace plmcab::fci {

namespace {

constexpr uint32_t kNextNamesReserve = 2 * CB_MAX_CABINET_NAME; // room kept for next names

uint16_t FolderIndex(const Entry &e) {
  if (e.fromPrev && e.toNext) return kFolderContinuedPrevAndNext;
  if (e.fromPrev) return kFolderContinuedFromPrev;
  if (e.toNext) return kFolderContinuedToNext;
  return uint16_t(e.folder);
}

void AddNames(std::string &h, const std::string &cab, const std::string &disk) {
  h += cab;
  h += '\0';
  h += disk;
  h += '\0';
}

} // namespace

uint32_t CabinetLayout::EntryBytes(const std::string &name) {
  return kFileSize + uint32_t(name.size()) + 1;
}

uint32_t CabinetLayout::HeaderBytes(uint32_t nextNames) const {
  uint32_t n = kHeaderSize + (res.Any() ? kHeaderReserveInfo + res.header : 0);
  if (hasPrev) n += uint32_t(prevCab.size() + prevDisk.size() + 2);
  return n + nextNames;
}

uint64_t CabinetLayout::Estimate(uint64_t extra) const {
  uint64_t n =
      HeaderBytes(kNextNamesReserve) + uint64_t(folders.size()) * (kFolderSize + res.folder);
  return n + entryBytes + dataBytes + extra;
}

void CabinetLayout::Clear() {
  folders.clear();
  entries.clear();
  entryBytes = 0;
  dataBytes = 0;
}

void CabinetLayout::Add(const Entry &e) {
  entries.push_back(e);
  entryBytes += EntryBytes(e.name);
}

void CabinetLayout::AddBlock(uint32_t bytes) {
  FolderPart &part = folders.back();
  part.blocks++;
  part.dataBytes += bytes;
  dataBytes += bytes;
}

std::string CabinetLayout::Tables(uint16_t setID, const std::string &nextCab,
                                  const std::string &nextDisk, uint32_t &total) const {
  const bool hasNext = !nextCab.empty();
  const uint32_t nextNames = hasNext ? uint32_t(nextCab.size() + nextDisk.size() + 2) : 0;
  const uint64_t headerLen = HeaderBytes(nextNames);
  const uint64_t folderLen = uint64_t(folders.size()) * (kFolderSize + res.folder);
  uint64_t fileLen = 0;
  for (const Entry &e : entries)
    fileLen += EntryBytes(e.name);
  const uint64_t coffFiles = headerLen + folderLen;
  const uint64_t dataBase = coffFiles + fileLen;
  const uint64_t size = dataBase + dataBytes;
  if (size > uint64_t(INT32_MAX) || folders.size() > 0xFFFF || entries.size() > kMaxFiles)
    throw Failure(FCIERR_CAB_FORMAT_LIMIT);
  total = uint32_t(size);

  std::string h;
  h.reserve(size_t(dataBase));
  h += "MSCF";
  AddU32(h, 0);
  AddU32(h, total);
  AddU32(h, 0);
  AddU32(h, uint32_t(coffFiles));
  AddU32(h, 0);
  AddU8(h, 3); // version 1.3
  AddU8(h, 1);
  AddU16(h, uint16_t(folders.size()));
  AddU16(h, uint16_t(entries.size()));
  AddU16(h, uint16_t((hasPrev ? kFlagPrevCabinet : 0) | (hasNext ? kFlagNextCabinet : 0) |
                     (res.Any() ? kFlagReservePresent : 0)));
  AddU16(h, setID);
  AddU16(h, iCabinet);
  if (res.Any()) {
    AddU16(h, uint16_t(res.header));
    AddU8(h, uint8_t(res.folder));
    AddU8(h, uint8_t(res.data));
    h.append(res.header, '\0');
  }
  if (hasPrev) AddNames(h, prevCab, prevDisk);
  if (hasNext) AddNames(h, nextCab, nextDisk);
  for (const FolderPart &p : folders) {
    AddU32(h, uint32_t(dataBase + p.dataStart));
    AddU16(h, uint16_t(p.blocks));
    AddU16(h, p.comp);
    h.append(res.folder, '\0');
  }
  for (const Entry &e : entries) {
    AddU32(h, e.size);
    AddU32(h, e.offset);
    AddU16(h, FolderIndex(e));
    AddU16(h, e.date);
    AddU16(h, e.time);
    AddU16(h, e.attribs);
    h += e.name;
    h += '\0';
  }
  return h;
}

uint32_t CabinetLayout::Write(const FileCallbacks &io, const CCAB &ccab, SpillStore &spill,
                              const std::string &nextCab, const std::string &nextDisk) const {
  uint32_t total = 0;
  const std::string h = Tables(ccab.setID, nextCab, nextDisk, total);

  std::string path = ccab.szCabPath;
  if (!path.empty() && path.back() != '/') path += '/';
  path += ccab.szCab;
  int err = 0;
  const CABHANDLE hf =
      io.open(path.data(), CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY | CAB_O_SEQUENTIAL,
              CAB_S_IREAD | CAB_S_IWRITE, &err, io.pv);
  if (hf == -1) throw Failure(FCIERR_CAB_FILE, err);
  try {
    io.WriteAll(hf, h.data(), uint32_t(h.size()), FCIERR_CAB_FILE);
    spill.CopyTo(hf, dataBytes, err);
  } catch (...) {
    int ignored = 0;
    io.close(hf, &ignored, io.pv);
    throw;
  }
  if (io.close(hf, &err, io.pv) != 0) throw Failure(FCIERR_CAB_FILE, err);
  return total;
}

} // namespace plmcab::fci
