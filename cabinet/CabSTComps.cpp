#include "cabinet/CabSTComps.h"

#include "cabinet/CabIntf.h"
#include "cabinet/CabSTConsts.h"
#include "platform/FileCopy.h"
#include "platform/FileIO.h"
#include "platform/FileSys.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <set>

namespace plm {

namespace {

// The OS error of the last failed file callback; reset by each notification.
int32_t gLastOsError = 0;

std::string Hex4(int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X", unsigned(v));
  return buf;
}

std::string OsText(int32_t code) {
  std::string s = SysErrorMessage(code);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' ||
                        s.back() == '.' || s.back() == '\t'))
    s.pop_back();
  return s;
}

std::string CabinetMessage(const TERF &erf, bool compressor) {
  if (!erf.fError) return compressor ? CabSTConsts::SFciError : CabSTConsts::SFdiError;
  std::string m = compressor ? CabSTConsts::FciErrorMessage(erf.erfOper)
                             : CabSTConsts::FdiErrorMessage(erf.erfOper);
  m += " [0x" + Hex4(erf.erfOper) + "]";
  if (erf.erfType != 0) m += ".\r\n" + OsText(erf.erfType) + " [0x" + Hex4(erf.erfType) + "].";
  return m;
}

// ---- file callbacks shared by the reader and the writer -------------------------------

void TranslateOpenFlags(int oflag, FileAccess &access, FileDisposition &disp,
                        FileOpenHints &hints) {
  switch (oflag & 3) {
  case 0:
    access = FileAccess::Read;
    break;
  case 1:
    access = FileAccess::Write;
    break;
  default:
    access = FileAccess::ReadWrite;
    break;
  }
  const bool create = (oflag & CAB_O_CREAT) != 0;
  if ((oflag & CAB_O_EXCL) && create)
    disp = FileDisposition::CreateNew;
  else if (oflag & CAB_O_TRUNC)
    disp = create ? FileDisposition::CreateAlways : FileDisposition::TruncateExisting;
  else
    disp = create ? FileDisposition::OpenAlways : FileDisposition::OpenExisting;
  hints = FileOpenHints{};
  hints.temporary = (oflag & CAB_O_SHORT_LIVED) && create;
  hints.randomAccess = (oflag & CAB_O_RANDOM) != 0;
  hints.sequentialScan = (oflag & CAB_O_SEQUENTIAL) != 0;
  hints.deleteOnClose = (oflag & CAB_O_TEMPORARY) && create;
}

void *CabAlloc(uint32_t cb) { return std::malloc(cb ? cb : 1); }
void CabFree(void *p) { std::free(p); }

// One set of file operations on the library's handles. Each reports the OS error of a
// failure through err; Adapt gives them the signatures that the two halves of the
// library expect.

CABHANDLE OpenFile(int &err, char *name, int oflag, int /*pmode*/) {
  FileAccess access;
  FileDisposition disp;
  FileOpenHints hints;
  TranslateOpenFlags(oflag, access, disp, hints);
  int e = 0;
  const FileHandle h = FileOpenHandle(name ? name : "", access, disp, hints, e);
  if (h == INVALID_FILE_HANDLE) {
    err = e;
    return -1;
  }
  if (oflag & CAB_O_APPEND) {
    if (FileSeekHandle(h, 0, 2, e) < 0) {
      err = e;
      int ignored = 0;
      FileCloseHandle(h, ignored);
      return -1;
    }
  }
  return CABHANDLE(h);
}


uint32_t ReadFile(int &err, CABHANDLE hf, void *pv, uint32_t cb) {
  const int64_t n = FileReadHandle(hf, pv, cb, err);
  return n < 0 ? uint32_t(-1) : uint32_t(n);
}

uint32_t WriteFile(int &err, CABHANDLE hf, void *pv, uint32_t cb) {
  const int64_t n = FileWriteHandle(hf, pv, cb, err);
  return n < 0 ? uint32_t(-1) : uint32_t(n);
}

int CloseFile(int &err, CABHANDLE hf) { return FileCloseHandle(hf, err) ? 0 : -1; }

int32_t SeekFile(int &err, CABHANDLE hf, int32_t dist, int seektype) {
  const int64_t r = FileSeekHandle(hf, dist, seektype, err);
  if (r >= 0 && r <= INT32_MAX) return int32_t(r);
  if (r >= 0) err = EOVERFLOW;
  return -1;
}

template <auto Op> struct Adapt;
template <class R, class... A, R (*Op)(int &, A...)> struct Adapt<Op> {
  // The decompression side has no error slot: the reader keeps the last error itself.
  static R Fdi(A... a) {
    int err = 0;
    const R r = Op(err, a...);
    if (err) gLastOsError = err;
    return r;
  }
  // The compression side passes an error slot and its context (not needed here).
  static R Fci(A... a, int *err, void * /*pv*/) {
    int e = 0;
    const R r = Op(e, a...);
    if (e && err) *err = e;
    return r;
  }
};

// A stored name as a relative path on this system: "\" between folders becomes "/",
// and the name is taken as Windows-1252 unless the cabinet flags it as UTF-8.
std::string LocalName(const std::string &stored, uint16_t attribs) {
  std::string s = (attribs & _A_NAME_IS_UTF) ? stored : Cp1252ToUtf8(stored);
  for (char &c : s)
    if (c == '\\') c = '/';
  return s;
}

// A name that would climb out of the destination folder, or names nothing.
bool UnsafeLocalName(const std::string &local) {
  size_t start = 0;
  bool any = false;
  while (start <= local.size()) {
    size_t end = local.find('/', start);
    if (end == std::string::npos) end = local.size();
    const std::string_view seg(local.data() + start, end - start);
    if (seg == "..") return true;
    if (!seg.empty() && seg != ".") any = true;
    start = end + 1;
  }
  return !any;
}

// Whether an entry below base on the way to base + rel (the last one included) is a
// symbolic link, which could lead the file out of the destination folder.
bool LeadsThroughLink(const std::string &base, const std::string &rel) {
  std::string p = base;
  size_t start = 0;
  while (start < rel.size()) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    if (end > start) {
      p = JoinPath({p, std::string_view(rel.data() + start, end - start)});
      if (IsSymLink(p)) return true;
    }
    start = end + 1;
  }
  return false;
}

} // namespace

int32_t CabLastOsError() { return gLastOsError; }

bool IsPlainCabinetName(const std::string &aName) {
  return !aName.empty() && aName != "." && aName != ".." &&
         aName.find_first_of("/\\") == std::string::npos;
}

// ---- ESTCabinet ------------------------------------------------------------------------

ESTCabinet::ESTCabinet(const TERF &anErrorRecord, bool anIsCompressorError)
    : Exception(CabinetMessage(anErrorRecord, anIsCompressorError)),
      ErrorCode(anErrorRecord.erfOper), OsErrorCode(anErrorRecord.erfType),
      HasError(anErrorRecord.fError != 0), IsCompressorError(anIsCompressorError) {}

// ---- TSTCabReader ---------------------------------------------------------------------

TSTCabReader::~TSTCabReader() {
  // A destructor must not throw: a failing FDIDestroy only forgets the context.
  if (fContext && CabIntf::FDIDestroy) CabIntf::FDIDestroy(fContext);
  fContext = nullptr;
}

void TSTCabReader::EnsureContext() {
  if (fContext) return;
  fErrorRecord = TERF{};
  CabIntf::LoadCabinetLibrary();
  fContext = CabIntf::FDICreate(CabAlloc, CabFree, Adapt<OpenFile>::Fdi, Adapt<ReadFile>::Fdi,
                                Adapt<WriteFile>::Fdi, Adapt<CloseFile>::Fdi,
                                Adapt<SeekFile>::Fdi, cpuUNKNOWN, &fErrorRecord);
  if (!fContext) CheckFdi(false);
}

void TSTCabReader::CheckFdi(bool ok) {
  if (ok) return;
  fErrorRecord.erfType = gLastOsError;
  throw ESTCabinet(fErrorRecord, false);
}

void TSTCabReader::ExtractFiles(const std::string &aCabFileName, const std::string &aDestDir) {
  if (aDestDir.empty()) {
    // Nothing may be written before the destination is known.
    TERF erf{FDIERROR_TARGET_FILE, ENOENT, 1};
    throw ESTCabinet(erf, false);
  }
  fCabFileName = ExpandFileName(aCabFileName);
  fDestDir = AddBackslash(aDestDir);
  fOpenSrcNames.clear();
  fOpenDstNames.clear();
  fMadeFolder.clear();
  std::set<std::string> done; // a chain that leads back ends there
  std::string current = fCabFileName;
  while (!current.empty()) {
    done.insert(ExpandFileName(current));
    fNextCabName.clear();
    fNextDiskName.clear();
    EnsureContext();
    std::string name = ExtractFileName(current);
    std::string path = ExtractFilePath(current);
    gLastOsError = 0;
    const CABBOOL ok =
        CabIntf::FDICopy(fContext, name.data(), path.data(), 0, FdiNotify, nullptr, this);
    CheckFdi(ok != 0);
    current = fNextCabName;
    if (!current.empty() && (!IsRegularFile(current) || done.count(ExpandFileName(current))))
      current.clear();
  }
}

int TSTCabReader::IndexOfSrc(const std::string &name) const {
  for (size_t i = 0; i < fOpenSrcNames.size(); ++i)
    if (SameText(fOpenSrcNames[i], name)) return int(i);
  return -1;
}

CABHANDLE TSTCabReader::FdiNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
  if (!pfdin || !pfdin->pv) return -1;
  auto *self = static_cast<TSTCabReader *>(pfdin->pv);
  try {
    return self->Notify(fdint, *pfdin);
  } catch (...) {
    // Nothing may cross the library: a failing handler aborts the extraction.
    return -1;
  }
}

CABHANDLE TSTCabReader::Notify(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION &n) {
  gLastOsError = 0;
  switch (fdint) {
  case fdintCABINET_INFO:
    return DoCabinetInfo(n);
  case fdintPARTIAL_FILE:
    return DoPartialFile(n);
  case fdintCOPY_FILE:
    return DoCopyFile(n);
  case fdintCLOSE_FILE_INFO:
    return DoCloseFile(n);
  case fdintNEXT_CABINET:
    return DoNextCabinet(n);
  default:
    break;
  }
  int32_t result = 0;
  if (OnUnrecognizedNotify) OnUnrecognizedNotify(this, fdint, n, result);
  return result;
}

namespace {
std::string Str(const char *p) { return p ? std::string(p) : std::string(); }
} // namespace

CABHANDLE TSTCabReader::DoCabinetInfo(FDINOTIFICATION &n) {
  bool abort = false;
  const std::string next = Str(n.psz1), disk = Str(n.psz2), path = Str(n.psz3);
  fNextCabName = IsPlainCabinetName(next) ? JoinPath({path, next}) : std::string();
  fNextDiskName = disk;
  if (OnCabinetInfo) OnCabinetInfo(this, next, disk, path, n.setID, n.iCabinet, abort);
  return abort ? -1 : 0;
}

CABHANDLE TSTCabReader::DoPartialFile(FDINOTIFICATION &n) {
  bool abort = false;
  const std::string src = Str(n.psz1);
  const int i = IndexOfSrc(src);
  const std::string dst = i >= 0 ? fOpenDstNames[size_t(i)] : std::string();
  if (OnCopyPartialFile) OnCopyPartialFile(this, src, Str(n.psz2), Str(n.psz3), dst, abort);
  return abort ? -1 : 0;
}

CABHANDLE TSTCabReader::DoCopyFile(FDINOTIFICATION &n) {
  bool abort = false;
  const std::string src = Str(n.psz1);
  const std::string local = LocalName(src, n.attribs);
  if (UnsafeLocalName(local)) return 0; // never written outside the destination
  const std::string proposed = JoinPath({fDestDir, local});
  std::string dst = proposed;
  if (OnCopyFile) OnCopyFile(this, src, n.cb, n.date, n.time, n.attribs, n.iFolder, dst, abort);
  if (abort) return -1;
  if (dst.empty()) return 0;
  if (dst == proposed && LeadsThroughLink(fDestDir, local)) return 0;
  const std::string folder = ExtractFilePath(dst);
  const bool madeBefore = !folder.empty() && folder == fMadeFolder;
  if (!folder.empty() && !madeBefore && !ForceDirectories(folder)) {
    // mkdir says "exists" when a file stands where a folder is needed.
    gLastOsError = errno == EEXIST ? ENOTDIR : errno ? errno : EACCES;
    return -1;
  }
  fMadeFolder = folder;
  const uint32_t attrs = FileGetAttr(dst);
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
    if (Options.contains(croDontOverwriteReadOnlyFiles)) return 0;
    FileSetAttr(dst, attrs & ~FILE_ATTRIBUTE_READONLY);
  }
  // Truncated on opening, so that an existing longer file keeps no stale bytes.
  std::string dstBuf = dst;
  const int oflag = CAB_O_WRONLY | CAB_O_SEQUENTIAL | CAB_O_CREAT | CAB_O_TRUNC | CAB_O_BINARY;
  CABHANDLE hf = Adapt<OpenFile>::Fdi(dstBuf.data(), oflag, CAB_S_IREAD | CAB_S_IWRITE);
  if (hf == -1 && madeBefore && gLastOsError == ENOENT) {
    // The folder made for an earlier file has gone since: made again, as for the first.
    fMadeFolder.clear();
    if (!ForceDirectories(folder)) return -1;
    fMadeFolder = folder;
    gLastOsError = 0;
    hf = Adapt<OpenFile>::Fdi(dstBuf.data(), oflag, CAB_S_IREAD | CAB_S_IWRITE);
  }
  if (hf != -1) {
    fOpenSrcNames.push_back(src);
    fOpenDstNames.push_back(dst);
  }
  return hf;
}

CABHANDLE TSTCabReader::DoCloseFile(FDINOTIFICATION &n) {
  bool abort = false;
  const std::string src = Str(n.psz1);
  std::string dst;
  const int i = IndexOfSrc(src);
  if (i >= 0) {
    dst = fOpenDstNames[size_t(i)];
    fOpenSrcNames.erase(fOpenSrcNames.begin() + i);
    fOpenDstNames.erase(fOpenDstNames.begin() + i);
    // The stored time goes on the file while it is still open: all of it is written, and
    // opening it again would cost as much as the rest of a small file's extraction.
    const uint32_t stamp = (uint32_t(n.date) << 16) | n.time;
    if (!fStampKnown || stamp != fStampDos) {
      fStampDos = stamp;
      fStampKnown = DosDateTimeToTime(n.date, n.time, fStampTime);
    }
    if (fStampKnown) FileSetModTimeHandle(n.hf, fStampTime);
  }
  Adapt<CloseFile>::Fdi(n.hf);
  // Failures to set the stored time or attributes are not reported.
  if (i >= 0) FileSetAttr(dst, n.attribs & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH));
  bool exec = (n.cb & 1) == 1;
  if (OnCloseFile) OnCloseFile(this, src, n.date, n.time, n.attribs, n.iFolder, exec, dst, abort);
  if (abort) return -1;
  if (exec && Options.contains(croExecuteOnExtract) && !dst.empty()) ShellOpenFile(dst);
  return 1;
}

CABHANDLE TSTCabReader::DoNextCabinet(FDINOTIFICATION &n) {
  if (!OnNextCabinet) return n.fdie == FDIERROR_NONE ? 0 : -1;
  bool abort = false;
  std::string path = Str(n.psz3);
  OnNextCabinet(this, Str(n.psz1), Str(n.psz2), path, n.fdie, abort);
  if (abort) return -1;
  path = AddBackslash(path);
  // The library's buffer holds CB_MAX_CAB_PATH bytes with the terminating zero.
  if (!n.psz3 || path.size() >= CB_MAX_CAB_PATH) return -1;
  std::memcpy(n.psz3, path.c_str(), path.size() + 1);
  return 0;
}

// ---- TSTCabWriter ---------------------------------------------------------------------

namespace {

int FciDelete(char *name, int *err, void * /*pv*/) {
  if (!DeleteFile(name ? name : "")) {
    if (err) *err = errno;
    return -1;
  }
  return 0;
}

bool NeedsUtf8Flag(const std::string &name) {
  for (unsigned char c : name)
    if (c >= 0x80) return IsValidUtf8(name);
  return false;
}

} // namespace

// The stored name of the file being added, for the UTF-8 name flag.
static thread_local const std::string *gAddingStoredName = nullptr;

static CABHANDLE FciGetOpenInfo(char *pszName, uint16_t *pdate, uint16_t *ptime, uint16_t *pattribs,
                                int *err, void * /*pv*/) {
  FileOpenHints hints;
  hints.sequentialScan = true;
  int e = 0;
  const std::string path = pszName ? pszName : "";
  const FileHandle h =
      FileOpenHandle(path, FileAccess::Read, FileDisposition::OpenExisting, hints, e);
  if (h == INVALID_FILE_HANDLE) {
    if (err) *err = e;
    return -1;
  }
  uint16_t d = 0x21, t = 0; // 1980-01-01 00:00 when the time cannot be given
  const std::time_t m = FileModTime(path);
  if (m != std::time_t(-1)) TimeToDosDateTime(m, d, t);
  *pdate = d;
  *ptime = t;
  uint16_t a = _A_ARCH;
  const uint32_t fa = FileGetAttr(path);
  if (fa != INVALID_FILE_ATTRIBUTES) a |= uint16_t(fa & (_A_RDONLY | _A_HIDDEN));
  if (gAddingStoredName && NeedsUtf8Flag(*gAddingStoredName)) a |= _A_NAME_IS_UTF;
  *pattribs = a;
  return CABHANDLE(h);
}

namespace {

bool CopyField(char (&field)[256], const std::string &value) {
  if (value.size() >= sizeof field) return false;
  std::memcpy(field, value.c_str(), value.size() + 1);
  return true;
}

std::string ReplaceStars(const std::string &tmpl, int n) {
  const std::string num = std::to_string(n);
  std::string r;
  for (char c : tmpl) {
    if (c == '*')
      r += num;
    else
      r += c;
  }
  return r;
}

} // namespace

struct TSTCabWriter::Output {
  TReplacingFile file;
  bool closed = false;
};

TSTCabWriter::TSTCabWriter() { RecomputeCompressionCode(); }

TSTCabWriter::~TSTCabWriter() {
  try {
    CloseCabinet(false);
  } catch (...) {
    // A destructor must not throw; the context is forgotten either way.
  }
}

void TSTCabWriter::setCompressionType(TSTCabCompressionType t) {
  fCompressionType = t;
  RecomputeCompressionCode();
}

void TSTCabWriter::setCompressionLzxLevel(TSTCabLzxLevel level) {
  fCompressionLzxLevel = level < 15 ? 15 : level > 21 ? 21 : level;
  RecomputeCompressionCode();
}

void TSTCabWriter::RecomputeCompressionCode() {
  switch (fCompressionType) {
  case cctNone:
    fCompressionCode = tcompTYPE_NONE;
    break;
  case cctMsZip:
    fCompressionCode = tcompTYPE_MSZIP;
    break;
  case cctLzx:
    fCompressionCode = uint16_t(fCompressionLzxLevel * 256 + tcompTYPE_LZX);
    break;
  default:
    fCompressionCode = tcompBAD;
    break;
  }
}

std::string TSTCabWriter::MakeCabinetName(int n) const {
  std::string tmpl = CabinetNameTemplate;
  if (tmpl.empty()) {
    tmpl = ExtractFileName(fCabFileName);
    const size_t dot = tmpl.rfind('.');
    if (dot == std::string::npos)
      tmpl += '*';
    else
      tmpl.insert(dot, "*");
  }
  return ReplaceStars(tmpl, n);
}

std::string TSTCabWriter::MakeCabinetPath(int n) const {
  const std::string tmpl =
      CabinetPathTemplate.empty() ? ExtractFilePath(fCabFileName) : CabinetPathTemplate;
  return AddBackslash(ReplaceStars(tmpl, n));
}

std::string TSTCabWriter::MakeDiskLabel(int n) const {
  return ReplaceStars(DiskLabelTemplate.empty() ? std::string("Disk*") : DiskLabelTemplate, n);
}

void TSTCabWriter::CheckFci(bool ok) {
  FinishOutputs(ok);
  if (!ok) throw ESTCabinet(fErrorRecord, true);
}

void TSTCabWriter::FinishOutputs(bool ok) {
  int failed = 0;
  for (auto it = fOutputs.begin(); it != fOutputs.end();) {
    Output &out = **it;
    if (!ok)
      out.file.Discard();
    else if (!out.closed) {
      ++it; // still being written
      continue;
    } else if (const int e = out.file.Commit())
      failed = failed ? failed : e;
    it = fOutputs.erase(it);
  }
  if (failed) {
    TERF erf{FCIERR_CAB_FILE, failed, 1};
    throw ESTCabinet(erf, true);
  }
}

void TSTCabWriter::StartCabinet(const std::string &aCabFileName) {
  if (fContext) CloseCabinet(true);
  fCabFileName = ExpandFileName(aCabFileName);
  CabIntf::LoadCabinetLibrary();
  fErrorRecord = TERF{};
  fCCab = TCCAB{};
  fCCab.cb = CabinetSizeThreshold ? CabinetSizeThreshold : uint32_t(CB_MAX_DISK);
  fCCab.cbFolderThresh = FolderSizeThreshold ? FolderSizeThreshold : uint32_t(CB_MAX_DISK);
  fCCab.cbReserveCFHeader = ReservePerCabinetSize;
  fCCab.cbReserveCFFolder = ReservePerFolderSize;
  fCCab.cbReserveCFData = ReservePerDataSize;
  fCCab.iCab = 1;
  fCCab.iDisk = 1;
  fCCab.setID = SetID;
  if (!CopyField(fCCab.szDisk, MakeDiskLabel(1)) ||
      !CopyField(fCCab.szCab, ExtractFileName(fCabFileName)) ||
      !CopyField(fCCab.szCabPath, ExtractFilePath(fCabFileName))) {
    TERF erf{FCIERR_CAB_FILE, ENAMETOOLONG, 1};
    throw ESTCabinet(erf, true);
  }
  fCabinetCounter = 0;
  fFolderCounter = 0;
  fTempNames.clear();
  fContext = CabIntf::FCICreate(&fErrorRecord, FciFilePlaced, CabAlloc, CabFree, FciOpen,
                                Adapt<ReadFile>::Fci, Adapt<WriteFile>::Fci, FciClose,
                                Adapt<SeekFile>::Fci, FciDelete, FciGetTempFile, &fCCab, this);
  CheckFci(fContext != nullptr);
}

void TSTCabWriter::AddFile(const std::string &aSrcFileName, const std::string &aStoredName,
                           bool anExecute) {
  if (!fContext) throw Exception("No cabinet has been started");
  if (CabinetFileCountThreshold && fCabinetCounter >= CabinetFileCountThreshold)
    FlushCabinet(true);
  else if (FolderFileCountThreshold && fFolderCounter >= FolderFileCountThreshold)
    FlushFolder();
  std::string src = aSrcFileName, stored = aStoredName;
  for (char &c : stored)
    if (c == '/') c = '\\'; // a cabinet separates folders with "\"
  gAddingStoredName = &aStoredName;
  const CABBOOL ok =
      CabIntf::FCIAddFile(fContext, src.data(), stored.data(), CabIntf::CabBool[anExecute],
                          FciGetNextCabinet, FciStatus, FciGetOpenInfo, fCompressionCode);
  gAddingStoredName = nullptr;
  CheckFci(ok != 0);
  ++fCabinetCounter;
  ++fFolderCounter;
}

void TSTCabWriter::FlushFolder() {
  if (!fContext) return;
  CheckFci(CabIntf::FCIFlushFolder(fContext, FciGetNextCabinet, FciStatus) != 0);
  fFolderCounter = 0;
}

void TSTCabWriter::FlushCabinet(bool GetNextCab) {
  if (!fContext) return; // nothing started, nothing to write
  CheckFci(CabIntf::FCIFlushCabinet(fContext, CabIntf::CabBool[GetNextCab], FciGetNextCabinet,
                                    FciStatus) != 0);
  fCabinetCounter = 0;
  fFolderCounter = 0;
}

void TSTCabWriter::CloseCabinet(bool Flush) {
  if (!fContext) return;
  struct Forget {
    HFCI &ctx;
    ~Forget() { ctx = nullptr; }
  };
  if (Flush) {
    try {
      FlushCabinet(false);
    } catch (...) {
      // The context is destroyed, then the flush failure is passed on.
      CabIntf::FCIDestroy(fContext);
      fContext = nullptr;
      throw;
    }
  }
  Forget forget{fContext};
  CheckFci(CabIntf::FCIDestroy(fContext) != 0);
}

CABBOOL TSTCabWriter::FciGetNextCabinet(PCCAB pccab, uint32_t cbPrevCab, void *pv) {
  if (!pccab || !pv) return 0;
  try {
    return static_cast<TSTCabWriter *>(pv)->GetNextCabinet(*pccab, cbPrevCab);
  } catch (...) {
    return 0;
  }
}

int32_t TSTCabWriter::FciStatus(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void *pv) {
  if (!pv) return -1;
  try {
    return static_cast<TSTCabWriter *>(pv)->Status(typeStatus, cb1, cb2);
  } catch (...) {
    return -1;
  }
}

int TSTCabWriter::FciFilePlaced(PCCAB pccab, char *pszFile, int32_t cbFile, CABBOOL fContinuation,
                                void *pv) {
  if (!pccab || !pv) return -1;
  try {
    return static_cast<TSTCabWriter *>(pv)->FilePlaced(*pccab, pszFile, cbFile, fContinuation != 0);
  } catch (...) {
    return -1;
  }
}

CABHANDLE TSTCabWriter::FciOpen(char *pszFile, int oflag, int pmode, int *err, void *pv) {
  auto *self = static_cast<TSTCabWriter *>(pv);
  const std::string name = pszFile ? pszFile : "";
  if (!self || !(oflag & CAB_O_CREAT) ||
      std::find(self->fTempNames.begin(), self->fTempNames.end(), name) != self->fTempNames.end())
    return Adapt<OpenFile>::Fci(pszFile, oflag, pmode, err, pv);
  // A cabinet: its folder is made when it is first written, and it is written beside its
  // name until the library is done with it.
  const std::string folder = ExtractFilePath(name);
  if (!folder.empty()) ForceDirectories(folder);
  try {
    auto out = std::make_unique<Output>();
    if (const int e = out->file.Open(name)) {
      if (err) *err = e;
      return -1;
    }
    const CABHANDLE hf = out->file.Fd();
    self->fOutputs.push_back(std::move(out));
    return hf;
  } catch (...) {
    if (err) *err = ENOMEM;
    return -1;
  }
}

int TSTCabWriter::FciClose(CABHANDLE hf, int *err, void *pv) {
  auto *self = static_cast<TSTCabWriter *>(pv);
  if (self)
    for (auto &out : self->fOutputs)
      if (!out->closed && out->file.Fd() == hf) {
        out->closed = true;
        const int e = out->file.Close();
        if (e && err) *err = e;
        return e ? -1 : 0;
      }
  return Adapt<CloseFile>::Fci(hf, err, pv);
}

CABBOOL TSTCabWriter::FciGetTempFile(char *pszTempName, int cbTempName, void *pv) {
  auto *w = static_cast<TSTCabWriter *>(pv);
  std::string folder = w ? ExtractFilePath(w->CabFileName()) : std::string();
  if (folder.empty()) folder = "./";
  ForceDirectories(folder);
  int e = 0;
  std::string name = CreateUniqueFile(folder + ".plmcab-", e);
  if (name.empty() || int(name.size()) >= cbTempName) {
    if (!name.empty()) DeleteFile(name);
    return 0;
  }
  std::memcpy(pszTempName, name.c_str(), name.size() + 1);
  try {
    if (w) w->fTempNames.push_back(name);
  } catch (...) {
    DeleteFile(name);
    return 0;
  }
  return 1;
}

CABBOOL TSTCabWriter::GetNextCabinet(TCCAB &ccab, uint32_t cbPrevCab) {
  bool abort = false;
  ++ccab.iDisk;
  // A name that does not fit the record's 256-byte fields ends the set cleanly.
  if (!CopyField(ccab.szDisk, MakeDiskLabel(ccab.iDisk)) ||
      !CopyField(ccab.szCab, MakeCabinetName(ccab.iCab)) ||
      !CopyField(ccab.szCabPath, MakeCabinetPath(ccab.iDisk)))
    return 0;
  if (OnGetNextCabinet) OnGetNextCabinet(this, ccab, cbPrevCab, abort);
  if (!abort) {
    ccab.szDisk[CB_MAX_DISK_NAME - 1] = 0;
    ccab.szCab[CB_MAX_CABINET_NAME - 1] = 0;
    ccab.szCabPath[CB_MAX_CAB_PATH - 1] = 0;
    const std::string path = ccab.szCabPath;
    if (!path.empty()) ForceDirectories(path);
    DeleteFile(JoinPath({path, std::string(ccab.szCab)}));
  }
  fCabinetCounter = 0;
  fFolderCounter = 0;
  return abort ? 0 : 1;
}

int32_t TSTCabWriter::Status(uint32_t typeStatus, uint32_t cb1, uint32_t cb2) {
  bool abort = false;
  int32_t result = 0;
  switch (typeStatus) {
  case statusFile:
    if (OnFileStatus) OnFileStatus(this, cb1, cb2, abort);
    if (fProgressCountdown < 0 && OnProgress && !abort) {
      OnProgress(this, abort);
      fProgressCountdown = 8;
    }
    --fProgressCountdown;
    break;
  case statusFolder:
    if (OnFolderStatus) OnFolderStatus(this, cb1, cb2, abort);
    fFolderCounter = 0;
    break;
  case statusCabinet: {
    uint32_t desired = 0;
    if (OnCabinetStatus) OnCabinetStatus(this, cb1, cb2, desired, abort);
    result = int32_t(desired);
    fCabinetCounter = 0;
    fFolderCounter = 0;
    break;
  }
  default:
    break;
  }
  return abort ? -1 : result;
}

int TSTCabWriter::FilePlaced(TCCAB &ccab, const char *file, int32_t size, bool continuation) {
  bool abort = false;
  if (OnFilePlaced) OnFilePlaced(this, ccab, Str(file), size, continuation, abort);
  return abort ? -1 : 0;
}

} // namespace plm
