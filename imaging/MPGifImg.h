#pragma once
// GIF pictures (GIF87a/GIF89a). The file is kept in memory as read; on first use every
// frame is decoded into an 8-bit bitmap of its own, with the frame's colour table as its
// palette. The picture shows one frame at a time stretched over the drawing rectangle:
// each frame's own bitmap, or, composed (SetComposed), the frames as shown on the logical
// screen (imaging/GifScreen.h). Animation steps the current frame from a trigger of the
// shared timer pool. Saving writes
// the stored bytes unchanged. Registered for the extension "gif" (imaging/PictureClasses.h).
#include "imaging/MPList.h"
#include "platform/graphics/Graphics.h"
#include "platform/graphics/Streams.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace plm {

class TMPTimerPool;
class TGIFData;

struct TGIFColor {
  uint8_t Red = 0, Green = 0, Blue = 0;
  bool operator==(const TGIFColor &) const = default;
};

class TColorTable {
public:
  // Reads length bytes (three per entry); a length of 0 makes an empty table.
  TColorTable(TStream &stream, int length);
  int Count() const { return static_cast<int>(fEntries.size()); }
  // Raises EListError "Index %d out of range [0..%d]".
  TGIFColor GetEntry(int index) const;
  // red + 256 x green + 65536 x blue
  uint32_t GetColor(int index) const;
  // One opaque colour per entry; empty for an empty table. (The 16-colour display
  // palette of an 8-bit screen has no counterpart on a true-colour display.)
  QList<QRgb> CreatePalette() const;

private:
  std::vector<TGIFColor> fEntries;
};

// Sub-block readers. A sub-block is a length byte n (1-255) and n bytes; 0 ends a sequence.
// Reads a length byte n; then min(n, size) bytes into fields (the rest stays 0). The rest of
// a longer first sub-block is not skipped. Returns n.
int ReadFixedBlock(TStream &stream, uint8_t *fields, int size);
void ReadSubBlockStrings(TStream &stream, std::vector<std::string> &lines);
void CopySubBlocks(TStream &stream, TStream &target);
void SkipSubBlocks(TStream &stream);

class TGIFExtension {
public:
  virtual ~TGIFExtension() = default;
};

class TGraphicControlExtension : public TGIFExtension {
public:
  explicit TGraphicControlExtension(TStream &stream);
  uint8_t PackedFields = 0;
  uint16_t DelayTime = 0; // hundredths of a second
  uint8_t TransparentColorIndex = 0;
};

class TPlainTextExtension : public TGIFExtension {
public:
  explicit TPlainTextExtension(TStream &stream);
  uint16_t GridLeft = 0, GridTop = 0, GridWidth = 0, GridHeight = 0;
  uint8_t CellWidth = 0, CellHeight = 0, ForegroundIndex = 0, BackgroundIndex = 0;
  std::vector<std::string> Lines;
};

class TApplicationExtension : public TGIFExtension {
public:
  explicit TApplicationExtension(TStream &stream);
  uint8_t Identifier[11] = {};
  TMemoryStream Data;
};

class TCommentExtension : public TGIFExtension {
public:
  explicit TCommentExtension(TStream &stream);
  std::vector<std::string> Lines;
};

class TImageDescriptor {
public:
  // Reads the 9-byte descriptor after the introducer, and the local colour table.
  TImageDescriptor(TStream &stream, const TColorTable *globalTable);
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint8_t Flags = 0;
  bool Interlaced() const { return (Flags & 0x40) != 0; }
  // The local table, or the global one (which may be none).
  const TColorTable *ActiveColorTable() const { return fLocal ? fLocal.get() : fGlobal; }

private:
  std::unique_ptr<TColorTable> fLocal;
  const TColorTable *fGlobal;
};

class TRasterData {
public:
  // Reads the LZW minimum code size and the image's data sub-blocks.
  explicit TRasterData(TStream &stream);
  uint8_t CodeSize = 0;
  TMemoryStream Data;
};

// The LZW decoder of one image. Codes are packed from the least significant bit upward.
// It never reads or writes out of bounds and always ends: data that runs out ends the
// image (rows not reached keep index 0).
class TDecoder {
public:
  // Raises EInvalidGraphicOperation "Invalid LZW Code Size: %d" outside 2..9.
  TDecoder(uint8_t codeSize, TMemoryStream &source);
  // Decodes into the 8-bit bitmap (already sized), rows in interlace order when asked, and
  // returns the number of pixels the data reached (in the order the rows come). A full code
  // table is kept until the next clear code. Raises EStreamError "Invalid stream format".
  size_t Decode(TBitmap &bitmap, bool interlaced);

private:
  int fInitialCodeSize;
  TMemoryStream &fSource;
};

// The interlaced row that follows row in the given pass (updated when a pass ends);
// returns a row at or beyond height after the last pass.
int NextInterlacedRow(int row, int &pass, int height);

class TGIFFrame {
public:
  explicit TGIFFrame(TGIFData *owner);
  ~TGIFFrame();
  static const char *ClassName() { return "TGIFFrame"; }
  // Reads the frame's extensions and image from the block whose introducer was just read.
  void ReadFrame(TStream &stream);
  TBitmap &Bitmap() { return fBitmap; }
  const TBitmap &Bitmap() const { return fBitmap; }
  int32_t Delay = 0; // units of 10 ms

  // What the image descriptor and the graphic control extension say, for showing the
  // frames composed on the logical screen (imaging/GifScreen.h).
  bool HasImage = false; // false for extensions before the trailer
  int Left = 0, Top = 0;
  bool Interlaced = false;
  int64_t PixelsDecoded = 0; // pixels the data reached, in the order the rows came
  int DelayTime = -1;        // hundredths of a second as stored; -1 without the extension
  int Disposal = 0;          // disposal method (0-7)
  int TransparentIndex = -1; // -1: none

private:
  TGIFData *fOwner;
  TBitmap fBitmap;
};

// The file data shared by pictures, reference counted.
class TGIFData {
public:
  TGIFData();
  ~TGIFData();
  void AddRef() { ++fRefCount; }
  // Drops one reference; frees the data when none is left.
  void Release();
  int32_t RefCount() const { return fRefCount; }

  // Reads every frame once; errors end the reading and keep the frames read so far (the
  // error is kept in ReadError). Later calls return at once.
  void ReadFrames();
  int FrameCount();
  int32_t FrameDelay(int index);
  void SetFrameDelay(int index, int32_t value);
  TBitmap &FrameBitmap(int index);
  const TGIFFrame &Frame(int index); // raises as CheckFrameNumber
  // Raises EInvalidGraphicOperation "Invalid frame number %d (0..%d)".
  void CheckFrameNumber(int index);

  // The stored bytes, or nullptr for an empty picture.
  TMemoryStream *Stream() const { return fStream.get(); }
  void SetStream(std::unique_ptr<TMemoryStream> stream) { fStream = std::move(stream); }
  const TColorTable *GlobalColorTable() const { return fGlobalColorTable.get(); }
  bool FramesRead() const { return fFramesRead; }
  // The error that ended the frame reading, if any (rethrow to inspect its kind).
  std::exception_ptr ReadError() const { return fReadError; }
  std::string ReadErrorMessage() const;

  uint16_t ScreenWidth = 0, ScreenHeight = 0;
  uint8_t ScreenFlags = 0, BackgroundIndex = 0, AspectRatio = 0;

  // Decoding limits, far beyond any real animation: a file asking for more keeps the frames
  // read before the limit. Fuzzing lowers them.
  static int MaxFrames;
  static int64_t MaxPixels; // total over all frames

private:
  void DoReadFrames();

  int32_t fRefCount = 0;
  std::unique_ptr<TMemoryStream> fStream;
  std::unique_ptr<TMPOwnedObjectList<TGIFFrame>> fFrames;
  std::unique_ptr<TColorTable> fGlobalColorTable;
  bool fFramesRead = false;
  int64_t fPixelsRead = 0;
  std::exception_ptr fReadError;
  friend class TGIFFrame;
};

class TGIFScreen;

class TGIFImage : public TGraphic {
public:
  TGIFImage();
  ~TGIFImage() override;

  const char *ClassName() const override { return "TGIFImage"; }
  // nullptr empties the picture; another TGIFImage shares its data and takes its current
  // frame; any other picture raises EInvalidGraphicOperation "Cannot assign to %s".
  void Assign(const TGraphic *source) override;
  // Stretches the current frame over rect (composed: the screen as it is shown); nothing
  // when there is no frame.
  void Draw(QPainter &painter, const QRect &rect) const override;
  bool GetEmpty() const override;
  int GetHeight() const override;
  int GetWidth() const override;
  void ReadData(TStream &stream) override;
  // Records the value (capped at the logical screen size) without resizing anything.
  void SetHeight(int value) override;
  void WriteData(TStream &stream) const override;
  void SetWidth(int value) override;
  // Takes every byte from the stream's position to its end and reads the frames.
  void LoadFromStream(TStream &stream) override;
  // Writes the stored bytes unchanged; raises EInvalidGraphicOperation "No GIF data".
  void SaveToStream(TStream &stream) const override;
  void LoadFromClipboardFormat() override {}
  void SaveToClipboardFormat() const override;
  QImage ToImage() const override; // the current frame (composed: the screen)

  int FrameCount() const;
  int CurrentFrame() const { return fCurrentFrame; }
  // Composed, the frame shown is the last one of its shown frame (imaging/GifScreen.h).
  void SetCurrentFrame(int index);
  // The next frame, or the next shown frame when composed; after the last, the first.
  void NextFrame();
  // Shows the frames composed on the logical screen rather than each frame's own bitmap
  // (off by default). Animation then steps shown frames, each staying for the delay of its
  // last frame.
  bool Composed() const { return fComposed; }
  void SetComposed(bool on);
  // The composition of the picture's data (made when first asked for).
  TGIFScreen &Screen() const;
  void SetAnimate(bool on);
  void SetFrameDelays(int32_t value);
  int32_t TriggerHandle() const { return fTriggerHandle; }
  TGIFData *Data() const { return fData; }

private:
  void LoadBytes(TStream &stream, int64_t count);
  void ReplaceData(TGIFData *data);

  TGIFData *fData = nullptr;
  mutable std::unique_ptr<TGIFScreen> fScreen; // follows fData
  bool fComposed = false;
  int fCurrentFrame = -1;
  int fRequestedWidth = 0, fRequestedHeight = 0;
  int32_t fTriggerHandle = -1;
};

// The pool shared by every GIF picture: made by the first picture, freed with the last
// trigger. nullptr while no GIF picture exists.
TMPTimerPool *GIFTimerPool();

} // namespace plm
