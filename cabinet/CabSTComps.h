#pragma once
// The cabinet components: ESTCabinet, the reader that extracts a cabinet (set) into a
// folder, and the writer that builds cabinets and cabinet sets.
//
// Writing a one-cabinet archive:
//   plm::TSTCabWriter w;
//   w.setCompressionType(plm::cctMsZip);      // or cctNone; LZX is refused by the library
//   w.StartCabinet("/path/Sample.plm");
//   w.AddFile("/src/Flavor.htm", "Flavor.htm"); // stored name; "sub/name" is kept as a folder
//   w.CloseCabinet(true);                      // flush and close; failures raise ESTCabinet
#include "platform/Exceptions.h"
#include "platform/plmcab/fdi_fci.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace plm {

using TERF = ERF;
using TFDIERROR = FDIERROR;
using TFDINOTIFICATIONTYPE = FDINOTIFICATIONTYPE;
using TFDINOTIFICATION = FDINOTIFICATION;
using TCCAB = CCAB;

// The failure of a cabinet component, with the library's error record.
class ESTCabinet : public Exception {
public:
  ESTCabinet(const TERF &anErrorRecord, bool anIsCompressorError);
  int32_t ErrorCode = 0;
  int32_t OsErrorCode = 0;
  bool HasError = false;
  bool IsCompressorError = false;
};

// The OS error code that the reader's last failed file callback recorded (0 if none
// since the last notification). Shared by every reader.
int32_t CabLastOsError();

// Whether a next-cabinet name read from a cabinet may be followed: a plain file name, to
// be looked for in the folder of the cabinet that names it. Names with "/" or "\", "."
// and ".." would lead the chain out of that folder and are taken as a cabinet that is
// not there.
bool IsPlainCabinetName(const std::string &aName);

enum TSTCabReaderOption { croExecuteOnExtract = 0, croDontOverwriteReadOnlyFiles = 1 };

// A set of reader options.
class TSTCabReaderOptions {
public:
  constexpr TSTCabReaderOptions() = default;
  constexpr TSTCabReaderOptions(std::initializer_list<TSTCabReaderOption> l) {
    for (auto o : l)
      fBits |= Bit(o);
  }
  constexpr bool contains(TSTCabReaderOption o) const { return (fBits & Bit(o)) != 0; }
  constexpr bool empty() const { return fBits == 0; }
  TSTCabReaderOptions &insert(TSTCabReaderOption o) {
    fBits |= Bit(o);
    return *this;
  }
  TSTCabReaderOptions &remove(TSTCabReaderOption o) {
    fBits &= ~Bit(o);
    return *this;
  }
  constexpr bool operator==(const TSTCabReaderOptions &) const = default;

private:
  static constexpr unsigned Bit(TSTCabReaderOption o) { return 1u << unsigned(o); }
  unsigned fBits = 0;
};

class TSTCabReader;
class TSTCabWriter;

using TSTCabReaderCabinetInfoEvent = std::function<void(
    TSTCabReader *Sender, const std::string &aNextCabName, const std::string &aNextDiskName,
    const std::string &aCabPath, uint16_t aSetID, uint16_t aCabNo, bool &anAbort)>;
using TSTCabReaderCopyFileEvent =
    std::function<void(TSTCabReader *Sender, const std::string &aSrcFileName,
                       int32_t anUncompressedSize, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                       uint16_t aFolderNo, std::string &aDstFullFileName, bool &anAbort)>;
using TSTCabReaderCopyPartialFileEvent = std::function<void(
    TSTCabReader *Sender, const std::string &aSrcFileName, const std::string &aStartCabName,
    const std::string &aStartDiskName, const std::string &aDstFullFileName, bool &anAbort)>;
using TSTCabReaderCloseFileEvent =
    std::function<void(TSTCabReader *Sender, const std::string &aSrcFileName, uint16_t aDate,
                       uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo, bool &anExec,
                       const std::string &aDstFullFileName, bool &anAbort)>;
using TSTCabReaderNextCabinetEvent = std::function<void(
    TSTCabReader *Sender, const std::string &aCabName, const std::string &aDiskName,
    std::string &aCabPath, TFDIERROR anError, bool &anAbort)>;
using TSTCabReaderUnrecognizedNotifyEvent =
    std::function<void(TSTCabReader *Sender, TFDINOTIFICATIONTYPE aNotifyType,
                       TFDINOTIFICATION &aNotify, int32_t &aResult)>;

// Extracts every file of a cabinet, and of the cabinets that follow it in its set, into
// a folder. Events may redirect or skip files, or abort.
class TSTCabReader {
public:
  TSTCabReader() = default;
  ~TSTCabReader();
  TSTCabReader(const TSTCabReader &) = delete;
  TSTCabReader &operator=(const TSTCabReader &) = delete;

  // Raises ESTCabinet on a failure reported by the library, EOSError when the library
  // cannot be loaded, Exception for an empty destination folder.
  void ExtractFiles(const std::string &aCabFileName, const std::string &aDestDir);

  TSTCabReaderOptions Options;
  TSTCabReaderCabinetInfoEvent OnCabinetInfo;
  TSTCabReaderCopyFileEvent OnCopyFile;
  TSTCabReaderCopyPartialFileEvent OnCopyPartialFile;
  TSTCabReaderCloseFileEvent OnCloseFile;
  TSTCabReaderNextCabinetEvent OnNextCabinet;
  TSTCabReaderUnrecognizedNotifyEvent OnUnrecognizedNotify;

  const std::string &CabFileName() const { return fCabFileName; }
  const std::string &DestDir() const { return fDestDir; }
  const std::string &NextCabName() const { return fNextCabName; }
  const std::string &NextDiskName() const { return fNextDiskName; }
  HFDI Context() const { return fContext; }
  const TERF &ErrorRecord() const { return fErrorRecord; }
  // Files opened for writing and not yet closed: stored names, and their destinations.
  const std::vector<std::string> &OpenSrcNames() const { return fOpenSrcNames; }
  const std::vector<std::string> &OpenDstNames() const { return fOpenDstNames; }

  // The library's notification callback; pfdin->pv is the reader.
  static CABHANDLE FdiNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

private:
  CABHANDLE Notify(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION &n);
  CABHANDLE DoCabinetInfo(FDINOTIFICATION &n);
  CABHANDLE DoPartialFile(FDINOTIFICATION &n);
  CABHANDLE DoCopyFile(FDINOTIFICATION &n);
  CABHANDLE DoCloseFile(FDINOTIFICATION &n);
  CABHANDLE DoNextCabinet(FDINOTIFICATION &n);
  void EnsureContext();
  void CheckFdi(bool ok);
  int IndexOfSrc(const std::string &name) const;

  HFDI fContext = nullptr;
  std::string fCabFileName;
  std::string fDestDir;
  std::string fNextCabName;
  std::string fNextDiskName;
  TERF fErrorRecord{};
  std::vector<std::string> fOpenSrcNames;
  std::vector<std::string> fOpenDstNames;
  // Files of a cabinet mostly share their folder and often their stored time: the folder
  // made last, and the last stored time converted, are not asked for again.
  std::string fMadeFolder;
  bool fStampKnown = false;
  uint32_t fStampDos = 0; // date << 16 | time, stored, of fStampTime
  std::time_t fStampTime = 0;
};

enum TSTCabCompressionType : uint8_t { cctNone, cctMsZip, cctLzx };
using TSTCabLzxLevel = int; // 15 .. 21

using TSTCabWriterFilePlacedEvent =
    std::function<void(TSTCabWriter *Sender, const TCCAB &aCCab, const std::string &aFileName,
                       int32_t aFileSize, bool aContinuation, bool &anAbort)>;
using TSTCabWriterGetNextCabinetEvent =
    std::function<void(TSTCabWriter *Sender, TCCAB &aCCab, uint32_t aPrevCabSize, bool &anAbort)>;
using TSTCabWriterFileStatusEvent =
    std::function<void(TSTCabWriter *Sender, uint32_t aCompressedBlockSize,
                       uint32_t anUncompressedBlockSize, bool &anAbort)>;
using TSTCabWriterFolderStatusEvent = std::function<void(TSTCabWriter *Sender, uint32_t aCopiedSize,
                                                         uint32_t aTotalSize, bool &anAbort)>;
using TSTCabWriterCabinetStatusEvent =
    std::function<void(TSTCabWriter *Sender, uint32_t aPrevEstimatedSize, uint32_t anActualSize,
                       uint32_t &aDesiredSize, bool &anAbort)>;
using TSTCabWriterProgressEvent = std::function<void(TSTCabWriter *Sender, bool &anAbort)>;

// Writes a cabinet, or a set of cabinets split by the size thresholds.
class TSTCabWriter {
public:
  TSTCabWriter();
  ~TSTCabWriter(); // closes without flushing
  TSTCabWriter(const TSTCabWriter &) = delete;
  TSTCabWriter &operator=(const TSTCabWriter &) = delete;

  // Published settings, read when a cabinet is started (0 means "no limit").
  uint32_t CabinetSizeThreshold = 0;
  uint32_t CabinetFileCountThreshold = 0;
  uint32_t FolderSizeThreshold = 0;
  uint32_t FolderFileCountThreshold = 0;
  uint32_t ReservePerCabinetSize = 0;
  uint32_t ReservePerFolderSize = 0;
  uint32_t ReservePerDataSize = 0;
  uint16_t SetID = 0;
  std::string CabinetNameTemplate;
  std::string CabinetPathTemplate;
  std::string DiskLabelTemplate;

  TSTCabCompressionType CompressionType() const { return fCompressionType; }
  void setCompressionType(TSTCabCompressionType t);
  TSTCabLzxLevel CompressionLzxLevel() const { return fCompressionLzxLevel; }
  void setCompressionLzxLevel(TSTCabLzxLevel level);
  uint16_t CompressionCode() const { return fCompressionCode; }

  TSTCabWriterFilePlacedEvent OnFilePlaced;
  TSTCabWriterGetNextCabinetEvent OnGetNextCabinet;
  TSTCabWriterFileStatusEvent OnFileStatus;
  TSTCabWriterFolderStatusEvent OnFolderStatus;
  TSTCabWriterCabinetStatusEvent OnCabinetStatus;
  TSTCabWriterProgressEvent OnProgress;

  // Starts a cabinet (set) whose first cabinet is aCabFileName; the next cabinets of a
  // set are named by the templates. Loads the library if needed; a cabinet already
  // started is closed (flushed) first.
  void StartCabinet(const std::string &aCabFileName);
  // Adds a file under a stored name, compressed with the current CompressionCode.
  void AddFile(const std::string &aSrcFileName, const std::string &aStoredName,
               bool anExecute = false);
  // Ends the current folder; the next file starts a new one.
  void FlushFolder();
  void FlushCabinet(bool GetNextCab);
  void CloseCabinet(bool Flush);

  std::string MakeCabinetName(int n) const;
  std::string MakeCabinetPath(int n) const;
  std::string MakeDiskLabel(int n) const;

  HFCI Context() const { return fContext; }
  const std::string &CabFileName() const { return fCabFileName; }
  const TERF &ErrorRecord() const { return fErrorRecord; }
  const TCCAB &CCab() const { return fCCab; }
  uint32_t CabinetCounter() const { return fCabinetCounter; }
  uint32_t FolderCounter() const { return fFolderCounter; }

  // The library's callbacks; pv is the writer.
  static CABBOOL FciGetNextCabinet(PCCAB pccab, uint32_t cbPrevCab, void *pv);
  static int32_t FciStatus(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void *pv);
  static int FciFilePlaced(PCCAB pccab, char *pszFile, int32_t cbFile, CABBOOL fContinuation,
                           void *pv);
  static CABHANDLE FciOpen(char *pszFile, int oflag, int pmode, int *err, void *pv);
  static int FciClose(CABHANDLE hf, int *err, void *pv);
  static CABBOOL FciGetTempFile(char *pszTempName, int cbTempName, void *pv);

private:
  struct Output;
  CABBOOL GetNextCabinet(TCCAB &ccab, uint32_t cbPrevCab);
  int32_t Status(uint32_t typeStatus, uint32_t cb1, uint32_t cb2);
  int FilePlaced(TCCAB &ccab, const char *file, int32_t size, bool continuation);
  void CheckFci(bool ok);
  void FinishOutputs(bool ok);
  void RecomputeCompressionCode();

  HFCI fContext = nullptr;
  std::string fCabFileName;
  TSTCabCompressionType fCompressionType = cctLzx;
  TSTCabLzxLevel fCompressionLzxLevel = 21;
  uint16_t fCompressionCode = 0;
  TERF fErrorRecord{};
  TCCAB fCCab{};
  uint32_t fCabinetCounter = 0;
  uint32_t fFolderCounter = 0;
  int32_t fProgressCountdown = 0;
  // The cabinets being written: each takes its name only once the library call that
  // wrote it has succeeded, so a failure never leaves a cabinet cut short.
  std::vector<std::unique_ptr<Output>> fOutputs;
  std::vector<std::string> fTempNames; // the library's own scratch files
};

} // namespace plm
