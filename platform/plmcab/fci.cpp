// Compression side of the cabinet library: writes cabinets and cabinet sets, stored or
// MSZIP (zlib). Compressed blocks wait in a temporary file until their cabinet is
// written; a cabinet that would pass the size limit is closed and the folder that was
// being filled goes on in the next cabinet of the set.
#include "platform/plmcab/CabFormat.h"
#include "platform/plmcab/fdi_fci.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace plmcab;

namespace {

constexpr uint32_t kFciMagic = 0x43494346;                      // "FCIC"
constexpr uint32_t kNextNamesReserve = 2 * CB_MAX_CABINET_NAME; // room kept for next names
constexpr uint32_t kMaxCabinetFiles = 0xFFFF;
constexpr uint32_t kCopyChunk = 1024 * 1024;
constexpr size_t kHoldLimit = 32u << 20; // compressed bytes kept in memory before spilling

struct Entry {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0; // in its folder, uncompressed
  uint16_t date = 0, time = 0, attribs = 0;
  size_t folder = 0; // index in the cabinet's folder list
  bool fromPrev = false, toNext = false;
};

struct FolderPart {
  uint16_t comp = 0;
  uint32_t dataStart = 0; // offset of its blocks in the temporary file
  uint32_t dataBytes = 0; // bytes of its blocks, headers included
  uint32_t blocks = 0;
  uint32_t uStart = 0; // offset in the whole folder of this part's first block
  uint32_t uBytes = 0;
};

class Failure {
public:
  Failure(int code, int type = 0) : code(code), type(type) {}
  int code, type;
};

struct Fci {
  uint32_t magic = kFciMagic;
  PERF perf = nullptr;
  PFNFCIFILEPLACED filePlaced = nullptr;
  PFNFCIALLOC alloc = nullptr;
  PFNFCIFREE free = nullptr;
  PFNFCIOPEN open = nullptr;
  PFNFCIREAD read = nullptr;
  PFNFCIWRITE write = nullptr;
  PFNFCICLOSE close = nullptr;
  PFNFCISEEK seek = nullptr;
  PFNFCIDELETE remove = nullptr;
  PFNFCIGETTEMPFILE getTemp = nullptr;
  void *pv = nullptr;
  CCAB ccab{};
  uint32_t resHeader = 0, resFolder = 0, resData = 0;

  // The call in progress hands these over.
  PFNFCIGETNEXTCABINET getNext = nullptr;
  PFNFCISTATUS status = nullptr;

  // The cabinet being filled.
  std::vector<FolderPart> folders;
  std::vector<Entry> entries;
  uint64_t entryBytes = 0; // size of the file entries of the cabinet
  uint32_t dataBytes = 0;
  bool folderOpen = false;
  bool folderCarried = false; // the open folder came over from the previous cabinet
  uint32_t folderU = 0;       // uncompressed bytes given to the open folder
  std::vector<uint8_t> pending;

  // The set.
  uint16_t iCabinet = 0;
  bool hasPrev = false;
  std::string prevCab, prevDisk;
  bool cabPending = true; // the current cabinet is still to be written
  bool setEnded = false;  // the last flush ended the set

  CABHANDLE temp = -1;
  std::string tempName;
  std::vector<uint8_t> held; // the cabinet's blocks, until they pass kHoldLimit
  bool spilled = false;      // the cabinet's blocks are in the temporary file
  z_stream z{};
  bool zReady = false;
  std::vector<uint8_t> block;
  Failure failed{FCIERR_NONE};

  ~Fci() {
    if (zReady) deflateEnd(&z);
  }

  // ---- callbacks ------------------------------------------------------------------
  void Status(uint32_t kind, uint32_t cb1, uint32_t cb2) {
    if (status && status(kind, cb1, cb2, pv) == -1) throw Failure(FCIERR_USER_ABORT);
  }
  void Placed(const Entry &e, bool continuation) {
    std::string name = e.name;
    if (filePlaced &&
        filePlaced(&ccab, name.data(), int32_t(e.size), continuation ? 1 : 0, pv) == -1)
      throw Failure(FCIERR_USER_ABORT);
  }
  CCAB NextCabinet(uint32_t prevSize) {
    CCAB next = ccab;
    ++next.iCab;
    if (!getNext || !getNext(&next, prevSize, pv)) throw Failure(FCIERR_USER_ABORT);
    next.szDisk[CB_MAX_DISK_NAME - 1] = 0;
    next.szCab[CB_MAX_CABINET_NAME - 1] = 0;
    next.szCabPath[CB_MAX_CAB_PATH - 1] = 0;
    // The reserved areas are the same in every cabinet of a set.
    next.cbReserveCFHeader = resHeader;
    next.cbReserveCFFolder = resFolder;
    next.cbReserveCFData = resData;
    return next;
  }
  void WriteAll(CABHANDLE hf, const void *p, uint32_t n, int code) {
    int err = 0;
    if (n == 0) return;
    if (write(hf, const_cast<void *>(p), n, &err, pv) != n) throw Failure(code, err);
  }

  // ---- sizes ----------------------------------------------------------------------
  bool AnyReserve() const { return resHeader || resFolder || resData; }
  uint32_t HeaderBytes(uint32_t nextNames) const {
    uint32_t n = kHeaderSize + (AnyReserve() ? kHeaderReserveInfo + resHeader : 0);
    if (hasPrev) n += uint32_t(prevCab.size() + prevDisk.size() + 2);
    return n + nextNames;
  }
  uint32_t EntryBytes(const std::string &name) const {
    return kFileSize + uint32_t(name.size()) + 1;
  }
  uint64_t Estimate(uint64_t extra) const {
    uint64_t n =
        HeaderBytes(kNextNamesReserve) + uint64_t(folders.size()) * (kFolderSize + resFolder);
    return n + entryBytes + dataBytes + extra;
  }

  // ---- blocks and folders ------------------------------------------------------------
  void EnsureTemp() {
    if (temp != -1) return;
    char name[CB_MAX_FILENAME] = {0};
    if (!getTemp || !getTemp(name, sizeof name, pv)) throw Failure(FCIERR_TEMP_FILE);
    name[sizeof name - 1] = 0;
    int err = 0;
    temp = open(name, CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY,
                CAB_S_IREAD | CAB_S_IWRITE, &err, pv);
    if (temp == -1) throw Failure(FCIERR_TEMP_FILE, err);
    tempName = name;
  }

  void Compress(const uint8_t *data, uint32_t n, uint16_t comp, const uint8_t *&out,
                uint32_t &outLen) {
    if ((comp & tcompMASK_TYPE) == tcompTYPE_NONE) {
      out = data;
      outLen = n;
      return;
    }
    if (!zReady) {
      if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Failure(FCIERR_ALLOC_FAIL);
      zReady = true;
    } else if (deflateReset(&z) != Z_OK) {
      throw Failure(FCIERR_MCI_FAIL);
    }
    block.resize(2 + deflateBound(&z, n));
    block[0] = 'C';
    block[1] = 'K';
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = n;
    z.next_out = block.data() + 2;
    z.avail_out = uInt(block.size() - 2);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw Failure(FCIERR_MCI_FAIL);
    out = block.data();
    outLen = uint32_t(2 + z.total_out);
    if (outLen > 0xFFFF) throw Failure(FCIERR_MCI_FAIL);
  }

  void StoreData(const uint8_t *p, uint32_t n) {
    if (!spilled && held.size() + n <= kHoldLimit) {
      held.insert(held.end(), p, p + n);
      return;
    }
    if (!spilled) {
      EnsureTemp();
      WriteAll(temp, held.data(), uint32_t(held.size()), FCIERR_TEMP_FILE);
      held.clear();
      spilled = true;
    }
    WriteAll(temp, p, n, FCIERR_TEMP_FILE);
  }

  // Writes one data block, or the head of a block cut at a cabinet's end (uncompressed
  // size 0), to the temporary file.
  void WriteBlockPart(const uint8_t *data, uint32_t cbData, uint32_t cbUncomp) {
    uint8_t head[kDataSize + 255] = {0};
    const uint32_t csum = resData ? 0 : BlockChecksum(data, uint16_t(cbData), uint16_t(cbUncomp));
    PutU32(head, csum);
    PutU16(head + 4, uint16_t(cbData));
    PutU16(head + 6, uint16_t(cbUncomp));
    StoreData(head, kDataSize + resData);
    StoreData(data, cbData);
    FolderPart &part = folders.back();
    const uint32_t bytes = kDataSize + resData + cbData;
    part.blocks++;
    part.dataBytes += bytes;
    dataBytes += bytes;
  }

  void EmitBlock() {
    const uint32_t u = uint32_t(pending.size());
    const uint8_t *data;
    uint32_t cbData;
    Compress(pending.data(), u, folders.back().comp, data, cbData);
    const uint32_t total = cbData;
    if (dataBytes > 0 && Estimate(kDataSize + resData + cbData) > ccab.cb) {
      // The block that does not fit is cut: its head fills this cabinet, the rest opens
      // the next one. Readers join the two parts into one block.
      const int64_t room = int64_t(ccab.cb) - int64_t(Estimate(kDataSize + resData));
      const uint32_t head =
          cbData == 0 || room <= 0 ? 0 : uint32_t(std::min<int64_t>(room, cbData - 1));
      WriteBlockPart(data, head, 0);
      Split();
      data += head;
      cbData -= head;
    }
    WriteBlockPart(data, cbData, u);
    folders.back().uBytes += u;
    pending.clear();
    Status(statusFile, total, u);
  }

  void OpenFolder(uint16_t comp) {
    FolderPart p;
    p.comp = comp;
    p.dataStart = dataBytes;
    folders.push_back(p);
    folderOpen = true;
    folderCarried = false;
    folderU = 0;
  }

  void CloseFolder() {
    if (!folderOpen) return;
    if (!pending.empty() || folders.back().blocks == 0) EmitBlock();
    const FolderPart &p = folders.back();
    folderOpen = false;
    folderCarried = false;
    folderU = 0;
    Status(statusFolder, p.dataBytes, p.dataBytes);
  }

  // ---- cabinets -------------------------------------------------------------------
  static uint16_t FolderIndex(const Entry &e) {
    if (e.fromPrev && e.toNext) return kFolderContinuedPrevAndNext;
    if (e.fromPrev) return kFolderContinuedFromPrev;
    if (e.toNext) return kFolderContinuedToNext;
    return uint16_t(e.folder);
  }

  // Writes the cabinet that has been filled; nextCab empty for the last of a set.
  void WriteCabinet(const std::string &nextCab, const std::string &nextDisk, uint32_t estimate) {
    const bool hasNext = !nextCab.empty();
    const uint32_t nextNames = hasNext ? uint32_t(nextCab.size() + nextDisk.size() + 2) : 0;
    const uint64_t headerLen = HeaderBytes(nextNames);
    const uint64_t folderLen = uint64_t(folders.size()) * (kFolderSize + resFolder);
    uint64_t fileLen = 0;
    for (const Entry &e : entries)
      fileLen += EntryBytes(e.name);
    const uint64_t coffFiles = headerLen + folderLen;
    const uint64_t dataBase = coffFiles + fileLen;
    const uint64_t total = dataBase + dataBytes;
    if (total > uint64_t(INT32_MAX) || folders.size() > 0xFFFF || entries.size() > kMaxCabinetFiles)
      throw Failure(FCIERR_CAB_FORMAT_LIMIT);

    std::string h;
    h.reserve(size_t(dataBase));
    h += "MSCF";
    AddU32(h, 0);
    AddU32(h, uint32_t(total));
    AddU32(h, 0);
    AddU32(h, uint32_t(coffFiles));
    AddU32(h, 0);
    AddU8(h, 3); // version 1.3
    AddU8(h, 1);
    AddU16(h, uint16_t(folders.size()));
    AddU16(h, uint16_t(entries.size()));
    AddU16(h, uint16_t((hasPrev ? kFlagPrevCabinet : 0) | (hasNext ? kFlagNextCabinet : 0) |
                       (AnyReserve() ? kFlagReservePresent : 0)));
    AddU16(h, ccab.setID);
    AddU16(h, iCabinet);
    if (AnyReserve()) {
      AddU16(h, uint16_t(resHeader));
      AddU8(h, uint8_t(resFolder));
      AddU8(h, uint8_t(resData));
      h.append(resHeader, '\0');
    }
    if (hasPrev) {
      h += prevCab;
      h += '\0';
      h += prevDisk;
      h += '\0';
    }
    if (hasNext) {
      h += nextCab;
      h += '\0';
      h += nextDisk;
      h += '\0';
    }
    for (const FolderPart &p : folders) {
      AddU32(h, uint32_t(dataBase + p.dataStart));
      AddU16(h, uint16_t(p.blocks));
      AddU16(h, p.comp);
      h.append(resFolder, '\0');
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

    std::string path = ccab.szCabPath;
    if (!path.empty() && path.back() != '/') path += '/';
    path += ccab.szCab;
    int err = 0;
    const CABHANDLE hf =
        open(path.data(), CAB_O_RDWR | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY | CAB_O_SEQUENTIAL,
             CAB_S_IREAD | CAB_S_IWRITE, &err, pv);
    if (hf == -1) throw Failure(FCIERR_CAB_FILE, err);
    try {
      WriteAll(hf, h.data(), uint32_t(h.size()), FCIERR_CAB_FILE);
      if (!spilled) {
        WriteAll(hf, held.data(), uint32_t(held.size()), FCIERR_CAB_FILE);
      } else {
        if (seek(temp, 0, 0, &err, pv) != 0) throw Failure(FCIERR_TEMP_FILE, err);
        std::vector<uint8_t> buf(kCopyChunk);
        uint32_t left = dataBytes;
        while (left > 0) {
          const uint32_t n = std::min<uint32_t>(left, kCopyChunk);
          if (read(temp, buf.data(), n, &err, pv) != n) throw Failure(FCIERR_TEMP_FILE, err);
          WriteAll(hf, buf.data(), n, FCIERR_CAB_FILE);
          left -= n;
        }
        if (seek(temp, 0, 0, &err, pv) != 0) throw Failure(FCIERR_TEMP_FILE, err);
      }
      held.clear();
      spilled = false;
    } catch (...) {
      int ignored = 0;
      close(hf, &ignored, pv);
      throw;
    }
    if (close(hf, &err, pv) != 0) throw Failure(FCIERR_CAB_FILE, err);
    Status(statusCabinet, estimate, uint32_t(total));
  }

  void ResetCabinet() {
    folders.clear();
    entries.clear();
    entryBytes = 0;
    dataBytes = 0;
    folderOpen = false;
    folderCarried = false;
  }

  void AdvanceTo(const CCAB &next) {
    prevCab = ccab.szCab;
    prevDisk = ccab.szDisk;
    hasPrev = true;
    ++iCabinet;
    ccab = next;
  }

  // The block that does not fit opens the next cabinet; the files of the open folder that
  // reach into it are listed in both cabinets.
  void Split() {
    const FolderPart &part = folders.back();
    const uint32_t uEnd = part.uStart + part.uBytes;
    const uint16_t comp = part.comp;
    const size_t open = folders.size() - 1;
    std::vector<Entry> carried;
    for (Entry &e : entries) {
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
    const uint32_t estimate = uint32_t(std::min<uint64_t>(Estimate(0), UINT32_MAX));
    const CCAB next = NextCabinet(estimate);
    WriteCabinet(next.szCab, next.szDisk, estimate);
    AdvanceTo(next);
    ResetCabinet();
    FolderPart p;
    p.comp = comp;
    p.uStart = uEnd;
    folders.push_back(p);
    folderOpen = true;
    folderCarried = true;
    entries = std::move(carried);
    entryBytes = 0;
    for (const Entry &e : entries)
      entryBytes += EntryBytes(e.name);
    cabPending = true;
    for (const Entry &e : entries)
      Placed(e, true);
  }

  void FlushCabinet(bool getNextCab) {
    CloseFolder();
    const uint32_t estimate = uint32_t(std::min<uint64_t>(Estimate(0), UINT32_MAX));
    if (getNextCab) {
      const CCAB next = NextCabinet(estimate);
      WriteCabinet(next.szCab, next.szDisk, estimate);
      AdvanceTo(next);
      ResetCabinet();
      cabPending = true;
      return;
    }
    if (!cabPending && entries.empty()) return; // written already, nothing added since
    WriteCabinet(std::string(), std::string(), estimate);
    ResetCabinet();
    cabPending = false;
    setEnded = true;
  }

  // After a set has ended, the next file starts a new cabinet under a new name.
  void StartNewSet() {
    const CCAB next = NextCabinet(0);
    ccab = next;
    hasPrev = false;
    prevCab.clear();
    prevDisk.clear();
    iCabinet = 0;
    setEnded = false;
    cabPending = true;
  }

  void AddFile(const char *src, const char *storedName, bool exec, PFNFCIGETOPENINFO getOpenInfo,
               TCOMP comp) {
    const uint16_t type = comp & tcompMASK_TYPE;
    if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP) throw Failure(FCIERR_BAD_COMPR_TYPE);
    const std::string name = storedName ? storedName : "";
    if (name.empty() || !getOpenInfo) throw Failure(FCIERR_OPEN_SRC);
    if (name.size() > kMaxNameBytes) throw Failure(FCIERR_CAB_FORMAT_LIMIT);
    std::string srcName = src ? src : "";
    uint16_t date = 0, time = 0, attribs = 0;
    int err = 0;
    const CABHANDLE hf = getOpenInfo(srcName.data(), &date, &time, &attribs, &err, pv);
    if (hf == -1) throw Failure(FCIERR_OPEN_SRC, err);
    struct Closer {
      Fci &f;
      CABHANDLE hf;
      ~Closer() {
        int ignored = 0;
        f.close(hf, &ignored, f.pv);
      }
    } closer{*this, hf};
    const int32_t end = seek(hf, 0, 2, &err, pv);
    if (end < 0 || seek(hf, 0, 0, &err, pv) != 0) throw Failure(FCIERR_READ_SRC, err);
    const uint32_t size = uint32_t(end);
    if (size > kMaxFolderBytes) throw Failure(FCIERR_CAB_FORMAT_LIMIT);
    if (exec) attribs |= _A_EXEC;

    // From here on a failure leaves the cabinet half built: the context refuses more work.
    try {
      if (setEnded) StartNewSet();
      cabPending = true;
      if (folderOpen && (folders.back().comp != comp || uint64_t(folderU) + size > kMaxFolderBytes))
        CloseFolder();
      if (entries.size() >= kMaxCabinetFiles) FlushCabinet(true);
      const uint64_t need = EntryBytes(name) + (folderOpen ? 0 : kFolderSize + resFolder) +
                            (pending.empty() ? 0 : pending.size() + kDataSize + resData + 64);
      if (!entries.empty() && Estimate(need) > ccab.cb) {
        CloseFolder();
        if (!entries.empty() && Estimate(EntryBytes(name) + kFolderSize + resFolder) > ccab.cb)
          FlushCabinet(true);
      }
      if (!folderOpen) OpenFolder(comp);
      Entry e;
      e.name = name;
      e.size = size;
      e.offset = folderU;
      e.date = date;
      e.time = time;
      e.attribs = attribs;
      e.folder = folders.size() - 1;
      entries.push_back(e);
      entryBytes += EntryBytes(e.name);
      Placed(e, false);
      uint32_t left = size;
      pending.reserve(kMaxBlock);
      while (left > 0) {
        const uint32_t room = kMaxBlock - uint32_t(pending.size());
        const uint32_t n = std::min(left, room);
        const size_t at = pending.size();
        pending.resize(at + n);
        const uint32_t got = read(hf, pending.data() + at, n, &err, pv);
        if (got != n) throw Failure(FCIERR_READ_SRC, got == uint32_t(-1) ? err : 0);
        left -= n;
        folderU += n;
        if (pending.size() == kMaxBlock) EmitBlock();
      }
      if (folderCarried || folders.back().dataBytes >= ccab.cbFolderThresh) CloseFolder();
    } catch (const Failure &f) {
      failed = f;
      throw;
    }
  }
};

Fci *AsFci(HFCI h) {
  auto *f = static_cast<Fci *>(h);
  return f && f->magic == kFciMagic ? f : nullptr;
}

void SetError(PERF perf, int code, int type) {
  if (!perf) return;
  perf->erfOper = code;
  perf->erfType = type;
  perf->fError = code != FCIERR_NONE;
}

// Runs one operation, turning its failure into the error record and FALSE.
template <typename Op>
CABBOOL Guard(Fci *f, PFNFCIGETNEXTCABINET getNext, PFNFCISTATUS status, Op op) {
  if (!f) return 0;
  if (f->failed.code != FCIERR_NONE) {
    SetError(f->perf, f->failed.code, f->failed.type);
    return 0;
  }
  f->getNext = getNext;
  f->status = status;
  try {
    op();
    SetError(f->perf, FCIERR_NONE, 0);
    return 1;
  } catch (const Failure &e) {
    SetError(f->perf, e.code, e.type);
  } catch (const std::bad_alloc &) {
    f->failed = Failure(FCIERR_ALLOC_FAIL);
    SetError(f->perf, FCIERR_ALLOC_FAIL, 0);
  } catch (...) {
    f->failed = Failure(FCIERR_MCI_FAIL);
    SetError(f->perf, FCIERR_MCI_FAIL, 0);
  }
  return 0;
}

} // namespace

extern "C" {

HFCI FCICreate(PERF perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
               PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
               PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
               void *pv) {
  if (!pfna || !pfnf || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek || !pfndelete ||
      !pfnfcigtf || !pccab) {
    SetError(perf, FCIERR_ALLOC_FAIL, 0);
    return nullptr;
  }
  if (pccab->cbReserveCFHeader > kMaxHeaderReserve || pccab->cbReserveCFFolder > 255 ||
      pccab->cbReserveCFData > 255) {
    SetError(perf, FCIERR_CAB_FORMAT_LIMIT, 0);
    return nullptr;
  }
  void *mem = pfna(sizeof(Fci));
  if (!mem) {
    SetError(perf, FCIERR_ALLOC_FAIL, 0);
    return nullptr;
  }
  Fci *f;
  try {
    f = new (mem) Fci;
  } catch (...) {
    pfnf(mem);
    SetError(perf, FCIERR_ALLOC_FAIL, 0);
    return nullptr;
  }
  f->perf = perf;
  f->filePlaced = pfnfcifp;
  f->alloc = pfna;
  f->free = pfnf;
  f->open = pfnopen;
  f->read = pfnread;
  f->write = pfnwrite;
  f->close = pfnclose;
  f->seek = pfnseek;
  f->remove = pfndelete;
  f->getTemp = pfnfcigtf;
  f->pv = pv;
  f->ccab = *pccab;
  f->ccab.szDisk[CB_MAX_DISK_NAME - 1] = 0;
  f->ccab.szCab[CB_MAX_CABINET_NAME - 1] = 0;
  f->ccab.szCabPath[CB_MAX_CAB_PATH - 1] = 0;
  f->resHeader = pccab->cbReserveCFHeader;
  f->resFolder = pccab->cbReserveCFFolder;
  f->resData = pccab->cbReserveCFData;
  SetError(perf, FCIERR_NONE, 0);
  return f;
}

CABBOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, CABBOOL fExecute,
                   PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                   PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis, [&] {
    f->AddFile(pszSourceFile, pszFileName, fExecute != 0, pfnfcigoi, typeCompress);
  });
}

CABBOOL FCIFlushCabinet(HFCI hfci, CABBOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                        PFNFCISTATUS pfnfcis) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis, [&] {
    try {
      f->FlushCabinet(fGetNextCab != 0);
    } catch (const Failure &e) {
      f->failed = e;
      throw;
    }
  });
}

CABBOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis, [&] {
    try {
      f->CloseFolder();
    } catch (const Failure &e) {
      f->failed = e;
      throw;
    }
  });
}

CABBOOL FCIDestroy(HFCI hfci) {
  Fci *f = AsFci(hfci);
  if (!f) return 0;
  bool ok = true;
  int err = 0;
  if (f->temp != -1) {
    if (f->close(f->temp, &err, f->pv) != 0) ok = false;
    if (f->remove(f->tempName.data(), &err, f->pv) != 0) ok = false;
  }
  SetError(f->perf, ok ? FCIERR_NONE : FCIERR_TEMP_FILE, ok ? 0 : err);
  PFNFCIFREE pfree = f->free;
  f->magic = 0;
  f->~Fci();
  pfree(f);
  return ok ? 1 : 0;
}

} // extern "C"
