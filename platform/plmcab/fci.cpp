// Compression side of the cabinet library: writes cabinets and cabinet sets, stored or
// MSZIP (zlib). The entry points check their arguments, open the source files and keep
// the error record; the set itself is filled by CabinetSet.
#include "platform/plmcab/CabFormat.h"
#include "platform/plmcab/fci_io.h"
#include "platform/plmcab/fci_set.h"
#include "platform/plmcab/fdi_fci.h"

#include <new>
#include <string>

using namespace plmcab;
using namespace plmcab::fci;

namespace {

constexpr uint32_t kFciMagic = 0x43494346; // "FCIC"

// The context behind an HFCI, in memory from the caller's allocator.
struct Fci {
  Fci(PERF perf, PFNFCIFREE free, const FileCallbacks &io, PFNFCIGETTEMPFILE getTemp,
      PFNFCIFILEPLACED filePlaced, const CCAB &ccab)
      : perf(perf), free(free), io(io), set(io, getTemp, filePlaced, ccab) {}

  uint32_t magic = kFciMagic;
  PERF perf;
  PFNFCIFREE free;
  FileCallbacks io;
  CabinetSet set;
  Failure failed{FCIERR_NONE}; // once set, the context refuses more work
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
  f->set.SetCallbacks(getNext, status);
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

// Runs a step that changes the set: a failure there leaves the cabinet half built, so
// the context refuses more work.
template <typename Op> void Committing(Fci &f, Op op) {
  try {
    op();
  } catch (const Failure &e) {
    f.failed = e;
    throw;
  }
}

void AddFile(Fci &f, const char *src, const char *storedName, bool exec,
             PFNFCIGETOPENINFO getOpenInfo, TCOMP comp) {
  const uint16_t type = comp & tcompMASK_TYPE;
  if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP) throw Failure(FCIERR_BAD_COMPR_TYPE);
  Entry file;
  file.name = storedName ? storedName : "";
  if (file.name.empty() || !getOpenInfo) throw Failure(FCIERR_OPEN_SRC);
  if (file.name.size() > kMaxNameBytes) throw Failure(FCIERR_CAB_FORMAT_LIMIT);
  std::string srcName = src ? src : "";
  int err = 0;
  const CABHANDLE hf =
      getOpenInfo(srcName.data(), &file.date, &file.time, &file.attribs, &err, f.io.pv);
  if (hf == -1) throw Failure(FCIERR_OPEN_SRC, err);
  SourceFile source(f.io, hf, err);
  file.size = source.Size();
  if (file.size > kMaxFolderBytes) throw Failure(FCIERR_CAB_FORMAT_LIMIT);
  if (exec) file.attribs |= _A_EXEC;
  Committing(f, [&] { f.set.AddFile(source, file, comp); });
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
  const FileCallbacks io{pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, pfndelete, pv};
  Fci *f;
  try {
    f = new (mem) Fci(perf, pfnf, io, pfnfcigtf, pfnfcifp, *pccab);
  } catch (...) {
    pfnf(mem);
    SetError(perf, FCIERR_ALLOC_FAIL, 0);
    return nullptr;
  }
  SetError(perf, FCIERR_NONE, 0);
  return f;
}

CABBOOL FCIAddFile(HFCI hfci, char *pszSourceFile, char *pszFileName, CABBOOL fExecute,
                   PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis,
                   PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis, [&] {
    AddFile(*f, pszSourceFile, pszFileName, fExecute != 0, pfnfcigoi, typeCompress);
  });
}

CABBOOL FCIFlushCabinet(HFCI hfci, CABBOOL fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                        PFNFCISTATUS pfnfcis) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis,
               [&] { Committing(*f, [&] { f->set.FlushCabinet(fGetNextCab != 0); }); });
}

CABBOOL FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis) {
  Fci *f = AsFci(hfci);
  return Guard(f, pfnfcignc, pfnfcis, [&] { Committing(*f, [&] { f->set.CloseFolder(); }); });
}

CABBOOL FCIDestroy(HFCI hfci) {
  Fci *f = AsFci(hfci);
  if (!f) return 0;
  int err = 0;
  const bool ok = f->set.Release(err);
  SetError(f->perf, ok ? FCIERR_NONE : FCIERR_TEMP_FILE, ok ? 0 : err);
  PFNFCIFREE pfree = f->free;
  f->magic = 0;
  f->~Fci();
  pfree(f);
  return ok ? 1 : 0;
}

} // extern "C"
