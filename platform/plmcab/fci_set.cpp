// Sizes are checked before anything is added, from an estimate that keeps room for the
// names of a next cabinet; a data block that still does not fit is cut in two at the
// cabinet's end.
#include "platform/plmcab/fci_set.h"

#include "platform/plmcab/CabFormat.h"

#include <algorithm>

namespace plmcab::fci {

CabinetSet::CabinetSet(const FileCallbacks &io, PFNFCIGETTEMPFILE getTemp,
                       PFNFCIFILEPLACED filePlaced, const CCAB &first)
    : io(io), filePlaced(filePlaced), ccab(first), spill(io, getTemp) {
  ccab.szDisk[CB_MAX_DISK_NAME - 1] = 0;
  ccab.szCab[CB_MAX_CABINET_NAME - 1] = 0;
  ccab.szCabPath[CB_MAX_CAB_PATH - 1] = 0;
  cab.res = {first.cbReserveCFHeader, first.cbReserveCFFolder, first.cbReserveCFData};
}

// ---- callbacks --------------------------------------------------------------------

void CabinetSet::Status(uint32_t kind, uint32_t cb1, uint32_t cb2) {
  if (status && status(kind, cb1, cb2, io.pv) == -1) throw Failure(FCIERR_USER_ABORT);
}

void CabinetSet::Placed(const Entry &e, bool continuation) {
  std::string name = e.name;
  if (filePlaced &&
      filePlaced(&ccab, name.data(), int32_t(e.size), continuation ? 1 : 0, io.pv) == -1)
    throw Failure(FCIERR_USER_ABORT);
}

CCAB CabinetSet::NextCabinet(uint32_t prevSize) {
  CCAB next = ccab;
  ++next.iCab;
  if (!getNext || !getNext(&next, prevSize, io.pv)) throw Failure(FCIERR_USER_ABORT);
  next.szDisk[CB_MAX_DISK_NAME - 1] = 0;
  next.szCab[CB_MAX_CABINET_NAME - 1] = 0;
  next.szCabPath[CB_MAX_CAB_PATH - 1] = 0;
  // The reserved areas are the same in every cabinet of a set.
  next.cbReserveCFHeader = cab.res.header;
  next.cbReserveCFFolder = cab.res.folder;
  next.cbReserveCFData = cab.res.data;
  return next;
}

uint32_t CabinetSet::CurrentEstimate() const {
  return uint32_t(std::min<uint64_t>(cab.Estimate(0), UINT32_MAX));
}

// ---- blocks and folders -------------------------------------------------------------

void CabinetSet::OpenFolder(uint16_t comp) {
  FolderPart p;
  p.comp = comp;
  p.dataStart = cab.dataBytes;
  cab.folders.push_back(p);
  folderOpen = true;
  folderCarried = false;
  folderU = 0;
}

void CabinetSet::CloseFolder() {
  if (!folderOpen) return;
  if (!pending.empty() || cab.folders.back().blocks == 0) EmitBlock();
  const FolderPart &p = cab.folders.back();
  folderOpen = false;
  folderCarried = false;
  folderU = 0;
  Status(statusFolder, p.dataBytes, p.dataBytes);
}

void CabinetSet::StoreBlockPart(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) {
  cab.AddBlock(StoreBlock(spill, cab.res.data, data, cbData, cbUncomp));
}

void CabinetSet::EmitBlock() {
  const uint32_t u = uint32_t(pending.size());
  const std::span<const uint8_t> block =
      encoder.Compress(pending.data(), u, cab.folders.back().comp);
  const uint8_t *data = block.data();
  uint32_t cbData = uint32_t(block.size());
  const uint32_t total = cbData;
  const uint32_t blockHead = kDataSize + cab.res.data;
  if (cab.dataBytes > 0 && cab.Estimate(blockHead + cbData) > ccab.cb) {
    // The block that does not fit is cut: its head fills this cabinet, the rest opens
    // the next one. Readers join the two parts into one block.
    const int64_t room = int64_t(ccab.cb) - int64_t(cab.Estimate(blockHead));
    const uint32_t head =
        cbData == 0 || room <= 0 ? 0 : uint32_t(std::min<int64_t>(room, cbData - 1));
    StoreBlockPart(data, head, 0);
    Split();
    data += head;
    cbData -= head;
  }
  StoreBlockPart(data, cbData, u);
  cab.folders.back().uBytes += u;
  pending.clear();
  Status(statusFile, total, u);
}

// ---- cabinets -------------------------------------------------------------------

void CabinetSet::WriteCabinet(const std::string &nextCab, const std::string &nextDisk,
                              uint32_t estimate) {
  const uint32_t total = cab.Write(io, ccab, spill, nextCab, nextDisk);
  Status(statusCabinet, estimate, total);
}

void CabinetSet::ResetCabinet() {
  cab.Clear();
  folderOpen = false;
  folderCarried = false;
}

void CabinetSet::AdvanceTo(const CCAB &next) {
  cab.prevCab = ccab.szCab;
  cab.prevDisk = ccab.szDisk;
  cab.hasPrev = true;
  ++cab.iCabinet;
  ccab = next;
}

// The block that does not fit opens the next cabinet; the files of the open folder that
// reach into it are listed in both cabinets.
void CabinetSet::Split() {
  const FolderPart &part = cab.folders.back();
  const uint32_t uEnd = part.uStart + part.uBytes;
  const uint16_t comp = part.comp;
  const size_t open = cab.folders.size() - 1;
  std::vector<Entry> carried;
  for (Entry &e : cab.entries) {
    if (e.folder != open) continue;
    if (uint64_t(e.offset) + e.size > uEnd || e.offset >= uEnd) {
      e.toNext = true;
      Entry c = e;
      c.fromPrev = true;
      c.toNext = false;
      c.folder = 0;
      carried.push_back(c);
    }
  }
  const uint32_t estimate = CurrentEstimate();
  const CCAB next = NextCabinet(estimate);
  WriteCabinet(next.szCab, next.szDisk, estimate);
  AdvanceTo(next);
  ResetCabinet();
  FolderPart p;
  p.comp = comp;
  p.uStart = uEnd;
  cab.folders.push_back(p);
  folderOpen = true;
  folderCarried = true;
  for (const Entry &e : carried)
    cab.Add(e);
  cabPending = true;
  for (const Entry &e : cab.entries)
    Placed(e, true);
}

void CabinetSet::FlushCabinet(bool getNextCab) {
  CloseFolder();
  const uint32_t estimate = CurrentEstimate();
  if (getNextCab) {
    const CCAB next = NextCabinet(estimate);
    WriteCabinet(next.szCab, next.szDisk, estimate);
    AdvanceTo(next);
    ResetCabinet();
    cabPending = true;
    return;
  }
  if (!cabPending && cab.entries.empty()) return; // written already, nothing added since
  WriteCabinet(std::string(), std::string(), estimate);
  ResetCabinet();
  cabPending = false;
  setEnded = true;
}

// After a set has ended, the next file starts a new cabinet under a new name.
void CabinetSet::StartNewSet() {
  const CCAB next = NextCabinet(0);
  ccab = next;
  cab.hasPrev = false;
  cab.prevCab.clear();
  cab.prevDisk.clear();
  cab.iCabinet = 0;
  setEnded = false;
  cabPending = true;
}

// Closes the open folder or the cabinet when the file cannot go into them.
void CabinetSet::MakeRoom(const Entry &file, uint16_t comp) {
  if (folderOpen &&
      (cab.folders.back().comp != comp || uint64_t(folderU) + file.size > kMaxFolderBytes))
    CloseFolder();
  if (cab.entries.size() >= CabinetLayout::kMaxFiles) FlushCabinet(true);
  const uint32_t entryBytes = CabinetLayout::EntryBytes(file.name);
  const uint32_t folderBytes = kFolderSize + cab.res.folder;
  const uint64_t need = entryBytes + (folderOpen ? 0 : folderBytes) +
                        (pending.empty() ? 0 : pending.size() + kDataSize + cab.res.data + 64);
  if (!cab.entries.empty() && cab.Estimate(need) > ccab.cb) {
    CloseFolder();
    if (!cab.entries.empty() && cab.Estimate(entryBytes + folderBytes) > ccab.cb)
      FlushCabinet(true);
  }
}

void CabinetSet::AddFile(SourceFile &src, Entry file, uint16_t comp) {
  if (setEnded) StartNewSet();
  cabPending = true;
  MakeRoom(file, comp);
  if (!folderOpen) OpenFolder(comp);
  file.offset = folderU;
  file.folder = cab.folders.size() - 1;
  cab.Add(file);
  Placed(file, false);
  uint32_t left = file.size;
  pending.reserve(kMaxBlock);
  while (left > 0) {
    const uint32_t room = kMaxBlock - uint32_t(pending.size());
    const uint32_t n = std::min(left, room);
    const size_t at = pending.size();
    pending.resize(at + n);
    src.Read(pending.data() + at, n);
    left -= n;
    folderU += n;
    if (pending.size() == kMaxBlock) EmitBlock();
  }
  if (folderCarried || cab.folders.back().dataBytes >= ccab.cbFolderThresh) CloseFolder();
}

} // namespace plmcab::fci
