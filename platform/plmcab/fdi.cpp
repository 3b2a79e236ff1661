// Decompression side of the cabinet library. Cabinet headers are read here; the data of
// the folders (stored, MSZIP, Quantum, LZX) is decoded by libmspack, which reaches the
// files only through the caller's callbacks.
#include "platform/plmcab/CabFormat.h"
#include "platform/plmcab/fdi_fci.h"
#include "platform/plmcab/fdi_folder.h"

#include <mspack.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace plmcab;

namespace {

constexpr uint32_t kFdiMagic = 0x43494446; // "FDIC"
constexpr int kMaxNextCabinetTries = 16;
constexpr int kDecoderInput = 64 * 1024;

struct Fdi {
  uint32_t magic = kFdiMagic;
  PFNALLOC alloc = nullptr;
  PFNFREE free = nullptr;
  PFNOPEN open = nullptr;
  PFNREAD read = nullptr;
  PFNWRITE write = nullptr;
  PFNCLOSE close = nullptr;
  PFNSEEK seek = nullptr;
  PERF perf = nullptr;
};

Fdi *AsFdi(HFDI h) {
  auto *f = static_cast<Fdi *>(h);
  return f && f->magic == kFdiMagic ? f : nullptr;
}

void SetError(PERF perf, int code) {
  if (!perf) return;
  perf->erfOper = code;
  perf->erfType = 0;
  perf->fError = code != FDIERROR_NONE;
}

// A next cabinet is looked for only in the folder the caller names: a name that carries a
// folder of its own, or is "." or "..", stands for no cabinet at all.
bool IsPlainName(const std::string &name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

std::string JoinCab(const std::string &path, const std::string &name) {
  if (path.empty()) return name;
  return path.back() == '/' ? path + name : path + "/" + name;
}

// ---- cabinet headers -------------------------------------------------------------------

struct RawFolder {
  uint32_t dataOffset = 0;
  uint16_t blocks = 0;
  uint16_t comp = 0;
};

struct RawFile {
  std::string name;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
};

struct RawCab {
  uint32_t size = 0;
  uint16_t flags = 0;
  uint16_t setID = 0;
  uint16_t iCabinet = 0;
  uint16_t resHeader = 0;
  uint8_t resFolder = 0;
  uint8_t resData = 0;
  std::string prevCab, prevDisk, nextCab, nextDisk;
  std::vector<RawFolder> folders;
  std::vector<RawFile> files;
};

// Buffered reading of an open file through the caller's read and seek callbacks.
class Input {
public:
  Input(const Fdi &f, CABHANDLE hf) : fFdi(f), fHf(hf) {}

  bool Read(void *dst, size_t n) { return ReadUpTo(dst, n) == n; }
  // As many of the n bytes as the file still holds.
  size_t ReadUpTo(void *dst, size_t n) {
    auto *out = static_cast<uint8_t *>(dst);
    size_t got = 0;
    while (got < n) {
      if (fPos == fLen && !Fill()) break;
      const size_t k = std::min(n - got, fLen - fPos);
      std::memcpy(out + got, fBuf + fPos, k);
      fPos += k;
      got += k;
    }
    return got;
  }
  bool Skip(size_t n) {
    uint8_t tmp[256];
    while (n > 0) {
      const size_t k = std::min(n, sizeof tmp);
      if (!Read(tmp, k)) return false;
      n -= k;
    }
    return true;
  }
  // A zero-terminated string of 1 to maxBytes bytes (emptyOk allows none).
  bool ReadString(std::string &s, size_t maxBytes, bool emptyOk) {
    s.clear();
    for (;;) {
      uint8_t c;
      if (!Read(&c, 1)) return false;
      if (c == 0) return emptyOk || !s.empty();
      if (s.size() == maxBytes) return false;
      s.push_back(char(c));
    }
  }
  bool Seek(uint32_t pos) {
    if (pos > uint32_t(INT32_MAX) || fFdi.seek(fHf, int32_t(pos), 0) == -1) return false;
    fPos = fLen = 0;
    return true;
  }

private:
  bool Fill() {
    const uint32_t n = fFdi.read(fHf, fBuf, sizeof fBuf);
    if (n == uint32_t(-1) || n == 0 || n > sizeof fBuf) return false;
    fPos = 0;
    fLen = n;
    return true;
  }

  const Fdi &fFdi;
  CABHANDLE fHf;
  uint8_t fBuf[4096];
  size_t fPos = 0, fLen = 0;
};

// Reads the fixed header. NONE, NOT_A_CABINET, CORRUPT_CABINET or UNKNOWN_CABINET_VERSION.
int ReadFixedHeader(Input &in, RawCab &cab, uint16_t &nFolders, uint16_t &nFiles,
                    uint32_t &coffFiles) {
  uint8_t h[kHeaderSize];
  const size_t got = in.ReadUpTo(h, sizeof h);
  if (got < 4 || std::memcmp(h + cfheader::signature, "MSCF", 4) != 0)
    return FDIERROR_NOT_A_CABINET;
  // A cabinet by its signature, cut before the end of its header: damaged, not foreign.
  if (got < sizeof h) return FDIERROR_CORRUPT_CABINET;
  if (h[cfheader::versionMajor] != 1) return FDIERROR_UNKNOWN_CABINET_VERSION;
  cab.size = GetU32(h + cfheader::cbCabinet);
  coffFiles = GetU32(h + cfheader::coffFiles);
  nFolders = GetU16(h + cfheader::cFolders);
  nFiles = GetU16(h + cfheader::cFiles);
  cab.flags = GetU16(h + cfheader::flags);
  cab.setID = GetU16(h + cfheader::setID);
  cab.iCabinet = GetU16(h + cfheader::iCabinet);
  return FDIERROR_NONE;
}

int ParseCabinet(Input &in, RawCab &cab) {
  uint16_t nFolders = 0, nFiles = 0;
  uint32_t coffFiles = 0;
  if (int e = ReadFixedHeader(in, cab, nFolders, nFiles, coffFiles)) return e;
  uint32_t pos = kHeaderSize;
  if (cab.flags & kFlagReservePresent) {
    uint8_t r[kHeaderReserveInfo];
    if (!in.Read(r, sizeof r)) return FDIERROR_CORRUPT_CABINET;
    cab.resHeader = GetU16(r + cfreserve::cbCFHeader);
    cab.resFolder = r[cfreserve::cbCFFolder];
    cab.resData = r[cfreserve::cbCFData];
    if (cab.resHeader > kMaxHeaderReserve || !in.Skip(cab.resHeader))
      return FDIERROR_CORRUPT_CABINET;
    pos += kHeaderReserveInfo + cab.resHeader;
  }
  if (cab.flags & kFlagPrevCabinet) {
    if (!in.ReadString(cab.prevCab, kMaxNameBytes, false) ||
        !in.ReadString(cab.prevDisk, kMaxNameBytes, true))
      return FDIERROR_CORRUPT_CABINET;
    pos += uint32_t(cab.prevCab.size() + cab.prevDisk.size() + 2);
  }
  if (cab.flags & kFlagNextCabinet) {
    if (!in.ReadString(cab.nextCab, kMaxNameBytes, false) ||
        !in.ReadString(cab.nextDisk, kMaxNameBytes, true))
      return FDIERROR_CORRUPT_CABINET;
    pos += uint32_t(cab.nextCab.size() + cab.nextDisk.size() + 2);
  }
  cab.folders.resize(nFolders);
  for (RawFolder &f : cab.folders) {
    uint8_t b[kFolderSize];
    if (!in.Read(b, sizeof b) || !in.Skip(cab.resFolder)) return FDIERROR_CORRUPT_CABINET;
    f.dataOffset = GetU32(b + cffolder::coffCabStart);
    f.blocks = GetU16(b + cffolder::cCFData);
    f.comp = GetU16(b + cffolder::typeCompress);
    pos += kFolderSize + cab.resFolder;
  }
  if (nFiles == 0) return FDIERROR_NONE;
  if (coffFiles < pos || !in.Seek(coffFiles)) return FDIERROR_CORRUPT_CABINET;
  cab.files.resize(nFiles);
  const bool hasPrev = cab.flags & kFlagPrevCabinet, hasNext = cab.flags & kFlagNextCabinet;
  for (RawFile &f : cab.files) {
    uint8_t b[kFileSize];
    if (!in.Read(b, sizeof b) || !in.ReadString(f.name, kMaxNameBytes, false))
      return FDIERROR_CORRUPT_CABINET;
    f.size = GetU32(b + cffile::cbFile);
    f.offset = GetU32(b + cffile::uoffFolderStart);
    f.folder = GetU16(b + cffile::iFolder);
    f.date = GetU16(b + cffile::date);
    f.time = GetU16(b + cffile::time);
    f.attribs = GetU16(b + cffile::attribs);
    bool valid;
    switch (f.folder) {
    case kFolderContinuedFromPrev:
      valid = hasPrev && nFolders > 0;
      break;
    case kFolderContinuedToNext:
      valid = hasNext && nFolders > 0;
      break;
    case kFolderContinuedPrevAndNext:
      valid = hasPrev && hasNext && nFolders > 0;
      break;
    default:
      valid = f.folder < nFolders;
      break;
    }
    if (!valid) return FDIERROR_CORRUPT_CABINET;
  }
  return FDIERROR_NONE;
}

int ParseCabinetFile(const Fdi &fdi, const std::string &path, RawCab &cab) {
  std::string name = path;
  const CABHANDLE hf = fdi.open(name.data(), CAB_O_RDONLY | CAB_O_BINARY | CAB_O_SEQUENTIAL, 0);
  if (hf == -1) return FDIERROR_CABINET_NOT_FOUND;
  Input in(fdi, hf);
  const int e = ParseCabinet(in, cab);
  fdi.close(hf);
  return e;
}

// ---- the bridge to libmspack -------------------------------------------------------------

struct Bridge;

// A file that libmspack opened. Cabinets are read through a small buffer: libmspack
// reads their headers in pieces of a few bytes and steps back after each name.
struct MsFile {
  Bridge *bridge;
  CABHANDLE hf;
  bool output;
  uint8_t *buf;            // input only
  uint32_t bufPos, bufLen; // the unread bytes of buf are [bufPos, bufLen)
  int64_t pos;             // the handle's position: just after the buffered bytes
};

constexpr uint32_t kMsBuffer = 4096;

struct Bridge {
  mspack_system sys; // the table handed to libmspack
  const Fdi *fdi;
  const char *outToken; // the "file name" that stands for the current output handle
  CABHANDLE outHandle;
  uint32_t outSkip; // bytes of the output written already, which libmspack writes again
};

// libmspack hands copies of the system table to its decoders, so the table pointer that
// comes back cannot lead to the bridge; the bridge of the running FDICopy is kept here.
// In the static thread-local block that the loader keeps for libraries loaded at run
// time: a dynamically allocated one, reached through the thread's vector of blocks,
// would outlive the library's unloading at exit as a dangling entry that leak checkers
// trip over when the program links nothing but the C++ library.
__attribute__((tls_model("initial-exec"))) thread_local Bridge *tCurrentBridge = nullptr;

constexpr size_t kAllocHeader = 16;

void *MsAlloc(mspack_system *, size_t bytes) {
  if (!tCurrentBridge) return nullptr;
  const Fdi *fdi = tCurrentBridge->fdi;
  if (bytes > UINT32_MAX - kAllocHeader) return nullptr;
  auto *p = static_cast<uint8_t *>(fdi->alloc(uint32_t(bytes + kAllocHeader)));
  if (!p) return nullptr;
  PFNFREE f = fdi->free;
  std::memcpy(p, &f, sizeof f);
  return p + kAllocHeader;
}

void MsFree(void *ptr) {
  if (!ptr) return;
  uint8_t *p = static_cast<uint8_t *>(ptr) - kAllocHeader;
  PFNFREE f;
  std::memcpy(&f, p, sizeof f);
  f(p);
}

void MsCopy(void *src, void *dest, size_t bytes) { std::memmove(dest, src, bytes); }

void MsMessage(mspack_file *, const char *, ...) {}

mspack_file *MsOpen(mspack_system *self, const char *filename, int mode) {
  Bridge *b = tCurrentBridge;
  if (!b) return nullptr;
  CABHANDLE hf;
  bool output = false;
  if (filename == b->outToken) {
    if (mode != MSPACK_SYS_OPEN_WRITE) return nullptr;
    hf = b->outHandle;
    output = true;
  } else {
    if (mode != MSPACK_SYS_OPEN_READ || !filename) return nullptr;
    std::string name = filename;
    hf = b->fdi->open(name.data(), CAB_O_RDONLY | CAB_O_BINARY | CAB_O_SEQUENTIAL, 0);
    if (hf == -1) return nullptr;
  }
  auto *f = static_cast<MsFile *>(MsAlloc(self, sizeof(MsFile)));
  uint8_t *buf = output || !f ? nullptr : static_cast<uint8_t *>(MsAlloc(self, kMsBuffer));
  if (!f || (!output && !buf)) {
    MsFree(f);
    if (!output) b->fdi->close(hf);
    return nullptr;
  }
  *f = MsFile{b, hf, output, buf, 0, 0, 0};
  return reinterpret_cast<mspack_file *>(f);
}

void MsClose(mspack_file *file) {
  auto *f = reinterpret_cast<MsFile *>(file);
  if (!f) return;
  // The output handle belongs to the caller, who closes it on close-file information.
  if (!f->output) f->bridge->fdi->close(f->hf);
  MsFree(f->buf);
  MsFree(f);
}

int MsRead(mspack_file *file, void *buffer, int bytes) {
  auto *f = reinterpret_cast<MsFile *>(file);
  if (bytes < 0) return -1;
  const Fdi &fdi = *f->bridge->fdi;
  if (!f->buf) {
    const uint32_t n = fdi.read(f->hf, buffer, uint32_t(bytes));
    if (n == uint32_t(-1) || n > uint32_t(bytes)) return -1;
    return int(n);
  }
  auto *out = static_cast<uint8_t *>(buffer);
  uint32_t done = 0;
  while (done < uint32_t(bytes)) {
    const uint32_t rest = uint32_t(bytes) - done;
    if (f->bufPos < f->bufLen) {
      const uint32_t k = std::min(rest, f->bufLen - f->bufPos);
      std::memcpy(out + done, f->buf + f->bufPos, k);
      f->bufPos += k;
      done += k;
      continue;
    }
    // Large reads (the data blocks) go straight to their destination.
    uint8_t *dst = rest >= kMsBuffer ? out + done : f->buf;
    const uint32_t want = rest >= kMsBuffer ? rest : kMsBuffer;
    const uint32_t n = fdi.read(f->hf, dst, want);
    if (n == uint32_t(-1) || n > want) return -1;
    if (n == 0) break;
    f->pos += n;
    if (dst == f->buf) {
      f->bufPos = 0;
      f->bufLen = n;
    } else {
      f->bufPos = f->bufLen = 0;
      done += n;
    }
  }
  return int(done);
}

int MsWrite(mspack_file *file, void *buffer, int bytes) {
  auto *f = reinterpret_cast<MsFile *>(file);
  if (bytes < 0) return -1;
  uint32_t skip = 0;
  if (f->output && f->bridge->outSkip) {
    skip = std::min(f->bridge->outSkip, uint32_t(bytes));
    f->bridge->outSkip -= skip;
    if (skip == uint32_t(bytes)) return bytes;
  }
  const uint32_t want = uint32_t(bytes) - skip;
  const uint32_t n = f->bridge->fdi->write(f->hf, static_cast<uint8_t *>(buffer) + skip, want);
  if (n == uint32_t(-1) || n > want) return -1;
  return int(n + skip);
}

int MsSeek(mspack_file *file, off_t offset, int mode) {
  auto *f = reinterpret_cast<MsFile *>(file);
  if (!f->buf) {
    if (offset < INT32_MIN || offset > INT32_MAX) return -1;
    return f->bridge->fdi->seek(f->hf, int32_t(offset), mode) == -1 ? -1 : 0;
  }
  // Within the buffer, a seek only moves in it; from the end, the handle knows where.
  const int64_t bufStart = f->pos - f->bufLen;
  const bool fromEnd = mode == MSPACK_SYS_SEEK_END;
  const int64_t target =
      fromEnd ? int64_t(offset)
              : int64_t(offset) + (mode == MSPACK_SYS_SEEK_CUR ? bufStart + f->bufPos : 0);
  if (!fromEnd && target >= bufStart && target <= f->pos) {
    f->bufPos = uint32_t(target - bufStart);
    return 0;
  }
  f->bufPos = f->bufLen = 0;
  if (target < INT32_MIN || target > INT32_MAX) return -1;
  const int32_t r = f->bridge->fdi->seek(f->hf, int32_t(target), fromEnd ? 2 : 0);
  if (r == -1) return -1;
  f->pos = r;
  return 0;
}

off_t MsTell(mspack_file *file) {
  auto *f = reinterpret_cast<MsFile *>(file);
  if (f->buf) return off_t(f->pos - f->bufLen + f->bufPos);
  return off_t(f->bridge->fdi->seek(f->hf, 0, 1));
}

int MapMspackError(int e) {
  switch (e) {
  case MSPACK_ERR_OK:
    return FDIERROR_NONE;
  case MSPACK_ERR_OPEN:
    return FDIERROR_CABINET_NOT_FOUND;
  case MSPACK_ERR_WRITE:
    return FDIERROR_TARGET_FILE;
  case MSPACK_ERR_NOMEMORY:
    return FDIERROR_ALLOC_FAIL;
  case MSPACK_ERR_SIGNATURE:
    return FDIERROR_NOT_A_CABINET;
  case MSPACK_ERR_CRUNCH:
  case MSPACK_ERR_DECRUNCH:
    return FDIERROR_MDI_FAIL;
  default:
    return FDIERROR_CORRUPT_CABINET; // read, seek, format and checksum failures
  }
}

// ---- one FDICopy call ------------------------------------------------------------------

// A notification record: the set and the number of the cabinet it speaks of and up to
// three strings, which the caller keeps alive (and writable) for the notification.
FDINOTIFICATION Record(uint16_t setID, uint16_t iCabinet, std::string *s1 = nullptr,
                       std::string *s2 = nullptr, char *s3 = nullptr) {
  FDINOTIFICATION n{};
  n.psz1 = s1 ? s1->data() : nullptr;
  n.psz2 = s2 ? s2->data() : nullptr;
  n.psz3 = s3;
  n.setID = setID;
  n.iCabinet = iCabinet;
  return n;
}

// A notification record about a file of the cabinet, named by name.
FDINOTIFICATION FileRecord(const RawCab &cab, const RawFile &f, std::string &name) {
  FDINOTIFICATION n = Record(cab.setID, cab.iCabinet, &name);
  n.date = f.date;
  n.time = f.time;
  n.attribs = f.attribs;
  n.iFolder = f.folder;
  return n;
}

class CopyJob {
public:
  CopyJob(const Fdi &fdi, std::string path, std::string name, PFNFDINOTIFY notify, void *pv)
      : fFdi(fdi), fPath(std::move(path)), fName(std::move(name)), fNotify(notify), fPv(pv) {
    fBridge.sys.open = MsOpen;
    fBridge.sys.close = MsClose;
    fBridge.sys.read = MsRead;
    fBridge.sys.write = MsWrite;
    fBridge.sys.seek = MsSeek;
    fBridge.sys.tell = MsTell;
    fBridge.sys.message = MsMessage;
    fBridge.sys.alloc = MsAlloc;
    fBridge.sys.free = MsFree;
    fBridge.sys.copy = MsCopy;
    fBridge.sys.null_ptr = nullptr;
    fBridge.fdi = &fFdi;
    fBridge.outToken = &fOutToken;
    fBridge.outHandle = -1;
    fBridge.outSkip = 0;
    fSavedBridge = tCurrentBridge;
    tCurrentBridge = &fBridge;
  }
  ~CopyJob() {
    if (fDecomp) {
      if (fRoot) fDecomp->close(fDecomp, fRoot);
      mspack_destroy_cab_decompressor(fDecomp);
    }
    tCurrentBridge = fSavedBridge;
  }
  CopyJob(const CopyJob &) = delete;
  CopyJob &operator=(const CopyJob &) = delete;

  int Run();

private:
  struct Part {
    std::string path; // full path, kept alive while libmspack holds it
    RawCab raw;
    mscabd_cabinet *cab = nullptr;
  };

  CABHANDLE Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION &n) {
    n.pv = fPv;
    return fNotify(type, &n);
  }
  mscabd_file *MsFileAt(size_t index, const RawFile &rf);
  int CompleteFile(const RawFile &rf);
  FolderDecoder *DirectDecoder(const RawFile &rf, size_t folder);
  int ExtractFile(mscabd_file *mf, const RawFile &rf, size_t folder, CABHANDLE hf);
  int Append(const std::string &folder);
  bool AskNext(int fdie, std::string &path);
  int LoadNext();
  int Prefetch();

  const Fdi &fFdi;
  std::string fPath, fName;
  PFNFDINOTIFY fNotify;
  void *fPv;
  char fOutToken = 0;
  Bridge fBridge{};
  Bridge *fSavedBridge = nullptr;
  mscab_decompressor *fDecomp = nullptr;
  mscabd_cabinet *fRoot = nullptr;
  std::deque<Part> fChain;
  std::string fNextPath; // the folder where the next cabinet is looked for
  bool fPrefetched = false;
  mscabd_file *fCursor = nullptr; // the file list is rebuilt when a cabinet is joined
  size_t fCursorIndex = 0;
  std::unique_ptr<FolderDecoder> fDirect;
  bool fDirectFailed = false;
  std::vector<bool> fLeftToMspack; // folders where the direct decoder stepped aside
};

mscabd_file *CopyJob::MsFileAt(size_t index, const RawFile &rf) {
  // Files are taken in order: walk on from the last one found.
  if (!fCursor || fCursorIndex > index) {
    fCursor = fRoot->files;
    fCursorIndex = 0;
  }
  for (; fCursor && fCursorIndex < index; ++fCursorIndex)
    fCursor = fCursor->next;
  mscabd_file *f = fCursor;
  if (!f || !f->filename || rf.name != f->filename || f->offset != rf.offset ||
      f->length != rf.size)
    return nullptr;
  return f;
}

// The direct decoder for a file, or nullptr when libmspack decodes it: files of a
// cabinet that stands alone, in stored and MSZIP folders that decoded cleanly so far.
FolderDecoder *CopyJob::DirectDecoder(const RawFile &rf, size_t folder) {
  const RawCab &raw = fChain.front().raw;
  if (rf.size == 0 || fDirectFailed || fChain.size() != 1 ||
      (raw.flags & (kFlagPrevCabinet | kFlagNextCabinet)) || rf.folder != folder ||
      !FolderDecoder::Handles(raw.folders[folder].comp))
    return nullptr;
  if (fLeftToMspack.empty()) fLeftToMspack.resize(raw.folders.size());
  if (fLeftToMspack[folder]) return nullptr;
  if (!fDirect) {
    const FileCallbacks io{fFdi.open, fFdi.read, fFdi.write, fFdi.close, fFdi.seek};
    fDirect = std::make_unique<FolderDecoder>(io, raw.resData);
    if (!fDirect->Open(fChain.front().path)) {
      fDirect.reset();
      fDirectFailed = true;
      return nullptr;
    }
  }
  return fDirect.get();
}

int CopyJob::ExtractFile(mscabd_file *mf, const RawFile &rf, size_t folder, CABHANDLE hf) {
  uint32_t written = 0;
  if (FolderDecoder *direct = DirectDecoder(rf, folder)) {
    const RawFolder &f = fChain.front().raw.folders[folder];
    switch (direct->Extract(int(folder), FolderPlace{f.dataOffset, f.blocks, f.comp}, rf.offset,
                            rf.size, hf, written)) {
    case FolderDecoder::Result::Done:
      return FDIERROR_NONE;
    case FolderDecoder::Result::WriteFailed:
      return FDIERROR_TARGET_FILE;
    case FolderDecoder::Result::StepAside:
      fLeftToMspack[folder] = true;
      break;
    }
  }
  // libmspack decodes the file from its start and passes over what is written already.
  fBridge.outHandle = hf;
  fBridge.outSkip = written;
  const int e = MapMspackError(fDecomp->extract(fDecomp, mf, &fOutToken));
  fBridge.outHandle = -1;
  fBridge.outSkip = 0;
  return e;
}

// Opens the cabinet that follows the last one of the chain, in the given folder, and
// joins it to the chain.
int CopyJob::Append(const std::string &folder) {
  const Part &last = fChain.back();
  if (!IsPlainName(last.raw.nextCab)) return FDIERROR_CABINET_NOT_FOUND;
  Part part;
  part.path = JoinCab(folder, last.raw.nextCab);
  int e = ParseCabinetFile(fFdi, part.path, part.raw);
  if (!e &&
      (part.raw.setID != last.raw.setID || part.raw.iCabinet != uint16_t(last.raw.iCabinet + 1) ||
       !(part.raw.flags & kFlagPrevCabinet) || part.raw.folders.empty()))
    e = FDIERROR_WRONG_CABINET;
  if (!e && (part.raw.resHeader != last.raw.resHeader || part.raw.resFolder != last.raw.resFolder ||
             part.raw.resData != last.raw.resData))
    e = FDIERROR_RESERVE_MISMATCH;
  if (e) return e;
  mscabd_cabinet *prev = last.cab;
  fChain.push_back(std::move(part));
  Part &added = fChain.back();
  added.cab = fDecomp->open(fDecomp, added.path.c_str());
  if (!added.cab)
    e = MapMspackError(fDecomp->last_error(fDecomp));
  else if (fDecomp->append(fDecomp, prev, added.cab) != MSPACK_ERR_OK) {
    fDecomp->close(fDecomp, added.cab);
    e = FDIERROR_WRONG_CABINET;
  }
  if (e)
    fChain.pop_back();
  else
    fCursor = nullptr;
  return e;
}

// Tells the caller that the next cabinet is needed and returns the folder it names
// (through the path buffer), or "" when the caller aborts.
bool CopyJob::AskNext(int fdie, std::string &path) {
  const Part &last = fChain.back();
  std::string nextName = last.raw.nextCab, nextDisk = last.raw.nextDisk;
  std::vector<char> buf(std::max<size_t>(CB_MAX_CAB_PATH, fNextPath.size() + 1), 0);
  std::memcpy(buf.data(), fNextPath.c_str(), fNextPath.size());
  FDINOTIFICATION n = Record(last.raw.setID, uint16_t(last.raw.iCabinet + 1), &nextName,
                             &nextDisk, buf.data());
  n.fdie = FDIERROR(fdie);
  if (Notify(fdintNEXT_CABINET, n) == -1) return false;
  buf.back() = 0;
  path = buf.data();
  return true;
}

// Asks the caller where the next cabinet is until it can be joined to the chain.
int CopyJob::LoadNext() {
  if (!(fChain.back().raw.flags & kFlagNextCabinet)) return FDIERROR_CORRUPT_CABINET;
  int fdie = FDIERROR_NONE;
  std::string tried;
  for (int attempt = 0;; ++attempt) {
    std::string path;
    if (!AskNext(fdie, path)) return FDIERROR_USER_ABORT;
    const int e = Append(path);
    if (!e) {
      fNextPath = path;
      return FDIERROR_NONE;
    }
    // A caller that offers the same place again after a failure has nothing new to try.
    if (attempt + 1 >= kMaxNextCabinetTries || (attempt > 0 && path == tried && e == fdie))
      return e;
    tried = path;
    fdie = e;
  }
}

// The decoders read a little ahead, into the block that ends the cabinet and goes on in
// the next one. So before a file of the last folder is decoded, the next cabinet is
// asked for once and joined when it is there; its absence only matters to the files
// that really continue.
int CopyJob::Prefetch() {
  if (fPrefetched || fChain.size() > 1) return FDIERROR_NONE;
  fPrefetched = true;
  std::string path;
  if (!AskNext(FDIERROR_NONE, path)) return FDIERROR_USER_ABORT;
  if (Append(path) == FDIERROR_NONE) fNextPath = path;
  return FDIERROR_NONE;
}

// Makes sure that every cabinet holding a part of the file is in the chain.
int CopyJob::CompleteFile(const RawFile &rf) {
  for (;;) {
    bool more = fChain.size() == 1;
    if (!more) {
      for (const RawFile &f : fChain.back().raw.files) {
        if (f.name == rf.name &&
            (f.folder == kFolderContinuedFromPrev || f.folder == kFolderContinuedPrevAndNext)) {
          more = f.folder == kFolderContinuedPrevAndNext;
          break;
        }
      }
    }
    if (!more) return FDIERROR_NONE;
    if (int e = LoadNext()) return e;
  }
}

int CopyJob::Run() {
  Part first;
  first.path = JoinCab(fPath, fName);
  if (int e = ParseCabinetFile(fFdi, first.path, first.raw)) return e;
  fNextPath = fPath;
  fChain.push_back(std::move(first));
  const RawCab &raw = fChain.front().raw;

  {
    std::string next = raw.nextCab, disk = raw.nextDisk, path = fPath;
    FDINOTIFICATION n = Record(raw.setID, raw.iCabinet, &next, &disk, path.data());
    if (Notify(fdintCABINET_INFO, n) == -1) return FDIERROR_USER_ABORT;
  }
  if (raw.files.empty()) return FDIERROR_NONE;

  fDecomp = mspack_create_cab_decompressor(&fBridge.sys);
  if (!fDecomp) return FDIERROR_ALLOC_FAIL;
  // The decoders read the cabinet through the caller's read callback in pieces of this
  // size: libmspack's own 4 KB would cost a call for every few kilobytes of output.
  fDecomp->set_param(fDecomp, MSCABD_PARAM_DECOMPBUF, kDecoderInput);
  fRoot = fDecomp->open(fDecomp, fChain.front().path.c_str());
  if (!fRoot) return MapMspackError(fDecomp->last_error(fDecomp));
  fChain.front().cab = fRoot;
  {
    size_t count = 0;
    for (mscabd_file *f = fRoot->files; f; f = f->next)
      ++count;
    if (count != raw.files.size()) return FDIERROR_CORRUPT_CABINET;
  }

  bool lastFolderContinues = false;
  for (const RawFile &f : raw.files)
    if (f.folder == kFolderContinuedToNext || f.folder == kFolderContinuedPrevAndNext)
      lastFolderContinues = true;

  for (size_t i = 0; i < raw.files.size(); ++i) {
    const RawFile rf = raw.files[i];
    std::string name = rf.name;
    if (rf.folder == kFolderContinuedFromPrev || rf.folder == kFolderContinuedPrevAndNext) {
      std::string prev = raw.prevCab, disk = raw.prevDisk;
      FDINOTIFICATION n = Record(raw.setID, raw.iCabinet, &name, &prev, disk.data());
      if (Notify(fdintPARTIAL_FILE, n) == -1) return FDIERROR_USER_ABORT;
      continue;
    }
    const size_t folder =
        rf.folder == kFolderContinuedToNext ? raw.folders.size() - 1 : size_t(rf.folder);
    if ((raw.folders[folder].comp & tcompMASK_TYPE) > tcompTYPE_LZX) return FDIERROR_BAD_COMPR_TYPE;

    FDINOTIFICATION n = FileRecord(raw, rf, name);
    n.cb = int32_t(rf.size);
    const CABHANDLE hf = Notify(fdintCOPY_FILE, n);
    if (hf == -1) return FDIERROR_USER_ABORT;
    if (hf == 0) continue;

    int e = FDIERROR_NONE;
    if (folder + 1 == raw.folders.size() && lastFolderContinues) e = Prefetch();
    if (!e && rf.folder == kFolderContinuedToNext) e = CompleteFile(rf);
    if (!e) {
      mscabd_file *mf = MsFileAt(i, rf);
      e = mf ? ExtractFile(mf, rf, folder, hf) : FDIERROR_CORRUPT_CABINET;
    }
    if (e) {
      fFdi.close(hf); // the caller never sees this handle again
      return e;
    }

    FDINOTIFICATION c = FileRecord(raw, rf, name);
    c.hf = hf;
    c.cb = (rf.attribs & _A_EXEC) ? 1 : 0;
    const CABHANDLE r = Notify(fdintCLOSE_FILE_INFO, c);
    if (r == -1 || r == 0) return FDIERROR_USER_ABORT;
  }
  return FDIERROR_NONE;
}

} // namespace

extern "C" {

HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int /*cpuType*/, PERF perf) {
  if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
    SetError(perf, FDIERROR_ALLOC_FAIL);
    return nullptr;
  }
  void *mem = pfnalloc(sizeof(Fdi));
  if (!mem) {
    SetError(perf, FDIERROR_ALLOC_FAIL);
    return nullptr;
  }
  Fdi *f = new (mem) Fdi;
  f->alloc = pfnalloc;
  f->free = pfnfree;
  f->open = pfnopen;
  f->read = pfnread;
  f->write = pfnwrite;
  f->close = pfnclose;
  f->seek = pfnseek;
  f->perf = perf;
  return f;
}

CABBOOL FDIIsCabinet(HFDI hfdi, CABHANDLE hf, PFDICABINETINFO pfdici) {
  Fdi *f = AsFdi(hfdi);
  if (!f) return 0;
  try {
    Input in(*f, hf);
    RawCab cab;
    uint16_t nFolders = 0, nFiles = 0;
    uint32_t coffFiles = 0;
    const int e = ReadFixedHeader(in, cab, nFolders, nFiles, coffFiles);
    if (e == FDIERROR_UNKNOWN_CABINET_VERSION) SetError(f->perf, e);
    if (e) return 0;
    if (pfdici) {
      pfdici->cbCabinet = int32_t(cab.size);
      pfdici->cFolders = nFolders;
      pfdici->cFiles = nFiles;
      pfdici->setID = cab.setID;
      pfdici->iCabinet = cab.iCabinet;
      pfdici->fReserve = (cab.flags & kFlagReservePresent) ? 1 : 0;
      pfdici->hasprev = (cab.flags & kFlagPrevCabinet) ? 1 : 0;
      pfdici->hasnext = (cab.flags & kFlagNextCabinet) ? 1 : 0;
    }
    return 1;
  } catch (...) {
    SetError(f->perf, FDIERROR_ALLOC_FAIL);
    return 0;
  }
}

CABBOOL FDICopy(HFDI hfdi, char *pszCabinet, char *pszCabPath, int /*flags*/, PFNFDINOTIFY pfnfdin,
                PFNFDIDECRYPT /*pfnfdid*/, void *pvUser) {
  Fdi *f = AsFdi(hfdi);
  if (!f) return 0;
  SetError(f->perf, FDIERROR_NONE);
  if (!pfnfdin) {
    SetError(f->perf, FDIERROR_USER_ABORT);
    return 0;
  }
  int e;
  try {
    CopyJob job(*f, pszCabPath ? pszCabPath : "", pszCabinet ? pszCabinet : "", pfnfdin, pvUser);
    e = job.Run();
  } catch (const std::bad_alloc &) {
    e = FDIERROR_ALLOC_FAIL;
  } catch (...) {
    e = FDIERROR_USER_ABORT;
  }
  if (e) {
    SetError(f->perf, e);
    return 0;
  }
  return 1;
}

CABBOOL FDIDestroy(HFDI hfdi) {
  Fdi *f = AsFdi(hfdi);
  if (!f) return 0;
  PFNFREE pfree = f->free;
  f->magic = 0;
  f->~Fdi();
  pfree(f);
  return 1;
}

} // extern "C"
