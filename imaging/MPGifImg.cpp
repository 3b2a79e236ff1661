#include "imaging/MPGifImg.h"

#include "imaging/GifScreen.h"
#include "imaging/MPTimer.h"
#include "platform/DisplayText.h"
#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace plm {

namespace {

TMPTimerPool *gPool = nullptr;

// Frees the pool at module finalisation should a picture outlive everything else.
struct PoolFinalizer {
  ~PoolFinalizer() {
    delete gPool;
    gPool = nullptr;
  }
} gPoolFinalizer;

std::string Format(const char *fmt, long long a) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

std::string Format(const char *fmt, long long a, long long b) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

QList<QRgb> GreyRamp() {
  QList<QRgb> t(256);
  for (int i = 0; i < 256; ++i)
    t[i] = qRgb(i, i, i);
  return t;
}

QColor ToQColor(uint32_t c) {
  return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

} // namespace

// --- colour table

TColorTable::TColorTable(TStream &stream, int length) {
  if (length <= 0) return;
  std::vector<uint8_t> raw(static_cast<size_t>(length));
  stream.ReadBuffer(raw.data(), raw.size());
  fEntries.resize(raw.size() / 3);
  for (size_t i = 0; i < fEntries.size(); ++i)
    fEntries[i] = TGIFColor{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
}

TGIFColor TColorTable::GetEntry(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(Format("Index %lld out of range [0..%lld]", index, Count() - 1));
  return fEntries[static_cast<size_t>(index)];
}

uint32_t TColorTable::GetColor(int index) const {
  const TGIFColor c = GetEntry(index);
  return uint32_t(c.Red) + 256u * c.Green + 65536u * c.Blue;
}

QList<QRgb> TColorTable::CreatePalette() const {
  // On a display with a hardware palette, a 16-entry table would take the display's 16
  // static colours; true-colour displays have no such palette, so every table is its own.
  QList<QRgb> p;
  p.reserve(Count());
  for (const TGIFColor &c : fEntries)
    p.append(qRgb(c.Red, c.Green, c.Blue));
  return p;
}

// --- sub-blocks

int ReadFixedBlock(TStream &stream, uint8_t *fields, int size) {
  std::memset(fields, 0, static_cast<size_t>(size));
  const int n = stream.ReadByte();
  if (n == 0) return 0;
  stream.ReadBuffer(fields, static_cast<size_t>(std::min(n, size)));
  return n;
}

void ReadSubBlockStrings(TStream &stream, std::vector<std::string> &lines) {
  for (;;) {
    const int n = stream.ReadByte();
    if (n == 0) return;
    std::string s(static_cast<size_t>(n), '\0');
    stream.ReadBuffer(s.data(), s.size());
    lines.push_back(std::move(s));
  }
}

void CopySubBlocks(TStream &stream, TStream &target) {
  auto *mem = dynamic_cast<TMemoryStream *>(&stream);
  for (;;) {
    const int n = stream.ReadByte();
    if (n == 0) return;
    if (mem) {
      // Straight from the stored bytes: no intermediate buffer per sub-block.
      const int64_t pos = mem->Position();
      if (pos + n > mem->Size()) throw EReadError("Stream read error");
      target.WriteBuffer(mem->Memory() + pos, static_cast<size_t>(n));
      mem->Seek(n, TSeekOrigin::soCurrent);
    } else {
      target.CopyFrom(stream, n);
    }
  }
}

void SkipSubBlocks(TStream &stream) {
  const int64_t size = stream.Size();
  for (;;) {
    const int n = stream.ReadByte();
    if (n == 0) return;
    // Skipping past the end would leave the reader in place; the data is cut short.
    if (stream.Position() + n > size) throw EReadError("Stream read error");
    stream.Seek(n, TSeekOrigin::soCurrent);
  }
}

// --- extensions

TGraphicControlExtension::TGraphicControlExtension(TStream &stream) {
  uint8_t f[4];
  ReadFixedBlock(stream, f, 4);
  PackedFields = f[0];
  DelayTime = static_cast<uint16_t>(f[1] | (f[2] << 8));
  TransparentColorIndex = f[3];
  SkipSubBlocks(stream);
}

TPlainTextExtension::TPlainTextExtension(TStream &stream) {
  uint8_t f[12];
  ReadFixedBlock(stream, f, 12);
  GridLeft = static_cast<uint16_t>(f[0] | (f[1] << 8));
  GridTop = static_cast<uint16_t>(f[2] | (f[3] << 8));
  GridWidth = static_cast<uint16_t>(f[4] | (f[5] << 8));
  GridHeight = static_cast<uint16_t>(f[6] | (f[7] << 8));
  CellWidth = f[8];
  CellHeight = f[9];
  ForegroundIndex = f[10];
  BackgroundIndex = f[11];
  ReadSubBlockStrings(stream, Lines);
}

TApplicationExtension::TApplicationExtension(TStream &stream) {
  ReadFixedBlock(stream, Identifier, 11);
  CopySubBlocks(stream, Data);
}

TCommentExtension::TCommentExtension(TStream &stream) { ReadSubBlockStrings(stream, Lines); }

// --- image descriptor and raster data

TImageDescriptor::TImageDescriptor(TStream &stream, const TColorTable *globalTable)
    : fGlobal(globalTable) {
  uint8_t d[9];
  stream.ReadBuffer(d, 9);
  Left = static_cast<uint16_t>(d[0] | (d[1] << 8));
  Top = static_cast<uint16_t>(d[2] | (d[3] << 8));
  Width = static_cast<uint16_t>(d[4] | (d[5] << 8));
  Height = static_cast<uint16_t>(d[6] | (d[7] << 8));
  Flags = d[8];
  if (Flags & 0x80) fLocal = std::make_unique<TColorTable>(stream, 3 << ((Flags & 7) + 1));
}

namespace {

// The payloads of the data sub-blocks that follow, copied once into storage made for all of
// them (the chain is walked first when the stream is in memory, as it always is here).
std::vector<uint8_t> ReadRaster(TStream &stream) {
  auto *mem = dynamic_cast<TMemoryStream *>(&stream);
  if (!mem) {
    TMemoryStream data;
    CopySubBlocks(stream, data);
    return data.Bytes();
  }
  const uint8_t *b = mem->Memory();
  const size_t size = mem->ByteCount();
  size_t pos = static_cast<size_t>(mem->Position()), total = 0;
  while (pos < size && b[pos] != 0) {
    total += b[pos];
    pos += b[pos] + 1u;
  }
  std::vector<uint8_t> data;
  data.reserve(total);
  for (;;) {
    const int n = stream.ReadByte();
    if (n == 0) return data;
    const size_t at = static_cast<size_t>(mem->Position());
    if (at + size_t(n) > size) throw EReadError("Stream read error");
    data.insert(data.end(), b + at, b + at + n);
    mem->Seek(n, TSeekOrigin::soCurrent);
  }
}

} // namespace

TRasterData::TRasterData(TStream &stream) : CodeSize(stream.ReadByte()), Data(ReadRaster(stream)) {}

// --- LZW decoder

int NextInterlacedRow(int row, int &pass, int height) {
  static const int kFirst[4] = {0, 4, 2, 1};
  static const int kStep[4] = {8, 8, 4, 2};
  row += kStep[pass];
  while (row >= height && pass < 3) {
    ++pass;
    row = kFirst[pass];
  }
  return row;
}

TDecoder::TDecoder(uint8_t codeSize, TMemoryStream &source)
    : fInitialCodeSize(codeSize), fSource(source) {
  if (codeSize < 2 || codeSize > 9)
    throw EInvalidGraphicOperation(Format("Invalid LZW Code Size: %lld", codeSize));
}

namespace {

// Up to 64 bits of the code stream, least significant bit first.
struct TBitReader {
  const uint8_t *src;
  size_t len, pos = 0;
  uint64_t bits = 0;
  int count = 0;

  // Tops the buffer up to at least 56 bits, fewer only at the end of the data.
  void Refill() {
    if (pos + 8 <= len) {
      uint64_t v;
      std::memcpy(&v, src + pos, 8);
      if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
      bits |= v << count;
      pos += size_t(63 - count) >> 3;
      count |= 56;
    } else {
      while (count <= 56 && pos < len) {
        bits |= uint64_t(src[pos++]) << count;
        count += 8;
      }
    }
  }
  // False when the data runs out before a whole code.
  bool Read(int size, int &code) {
    if (count < size) {
      Refill();
      if (count < size) return false;
    }
    code = static_cast<int>(bits & ((1u << size) - 1));
    bits >>= size;
    count -= size;
    return true;
  }
};

constexpr int kCopyChunk = 16;

} // namespace

size_t TDecoder::Decode(TBitmap &bitmap, bool interlaced) {
  // Every string in the table is a run of pixels already written: a new entry is the
  // previous code's output followed by one pixel, which is the next code's first one, so an
  // entry is a place and a length in the output and a code is copied, not walked. Copies go
  // in chunks that may write past the string's end into space the next codes overwrite.
  constexpr int kTableSize = 4096;
  const uint8_t *start[kTableSize];
  uint16_t length[kTableSize];
  // Literal strings; the slack lets a chunk be read from the last one.
  uint8_t literals[512 + kCopyChunk];

  const int m = fInitialCodeSize;
  const int clearCode = 1 << m;
  const int endCode = clearCode + 1;
  for (int i = 0; i < 512 + kCopyChunk; ++i)
    literals[i] = static_cast<uint8_t>(i); // literals above 255 (code size 9) keep their low byte
  for (int i = 0; i < clearCode; ++i) {
    start[i] = literals + i;
    length[i] = 1;
  }

  // Output: the image's rows one after the other, straight into the bitmap when its rows
  // are contiguous and in order; otherwise into a buffer spread over the rows at the end.
  // Pixels beyond the image are dropped.
  QImage &image = bitmap.RawImage();
  const int width = image.isNull() ? 0 : image.width();
  const int height = image.isNull() ? 0 : image.height();
  const size_t cap = width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
  std::unique_ptr<uint8_t[]> buffer;
  uint8_t none[1];
  uint8_t *out = none;
  if (cap > 0) {
    if (!interlaced && image.bytesPerLine() == width) {
      out = image.bits();
    } else {
      buffer = std::make_unique_for_overwrite<uint8_t[]>(cap);
      out = buffer.get();
    }
  }
  size_t cur = 0;    // pixels written
  size_t prevAt = 0; // where the previous code's string was written
  // Below this, any string fits with its chunk overrun.
  const size_t roomy = cap > kTableSize + kCopyChunk ? cap - kTableSize - kCopyChunk : 0;
  auto copyString = [&](int code) {
    const uint8_t *s = start[code];
    const size_t n = length[code];
    prevAt = cur;
    if (cur < roomy) [[likely]] {
      // The string lies before cur, so each chunk reads what it must before any write
      // reaches it.
      size_t k = 0;
      do {
        std::memmove(out + cur + k, s + k, kCopyChunk);
        k += kCopyChunk;
      } while (k < n);
      cur += n;
    } else if (cur < cap) {
      const size_t k = std::min(n, cap - cur);
      std::memmove(out + cur, s, k);
      cur += k;
    }
  };

  TBitReader in{fSource.Memory(), fSource.ByteCount()};
  int codeSize = m + 1;
  int next = endCode + 1;
  int limit = 1 << codeSize;
  int prev = 0;
  auto reset = [&] {
    codeSize = m + 1;
    next = endCode + 1;
    limit = 1 << codeSize;
  };

  // Returns at the end code, or when the data runs out, which ends the image.
  auto decodeCodes = [&] {
    int code;
    bool cleared = false; // a clear code was read and no string since
    for (;;) {
      // The first string of the stream or after a clear code: it adds no entry.
      for (;;) {
        if (!in.Read(codeSize, code)) return;
        if (code != clearCode) break;
        cleared = true;
        reset();
      }
      if (code == endCode) {
        if (cleared) throw EStreamError("Invalid stream format");
        return;
      }
      if (code >= next) code = 0;
      copyString(code);
      prev = code;
      cleared = false;

      for (;;) {
        if (!in.Read(codeSize, code)) return;
        if (static_cast<unsigned>(code - clearCode) <= 1u) [[unlikely]] {
          if (code == endCode) return;
          cleared = true;
          reset();
          break;
        }
        // A full table (4096 entries at 12 bits) stays as it is until the next clear code:
        // an encoder may defer that code, and the codes before it add no entry.
        if (next < kTableSize) [[likely]] {
          if (code >= next) [[unlikely]] {
            if (code > next) throw EStreamError("Invalid stream format");
            // The string of the previous code followed by its own first pixel: that pixel
            // is written first, where the copy of the previous string reads it as its last.
            if (cur < cap) out[cur] = out[prevAt];
          }
          // The new entry ends with the first pixel of the string written next.
          start[next] = out + prevAt;
          length[next] = static_cast<uint16_t>(length[prev] + 1);
          if (++next >= limit && codeSize < 12) [[unlikely]] {
            ++codeSize;
            limit <<= 1;
          }
        }
        copyString(code);
        prev = code;
      }
    }
  };
  decodeCodes();

  if (!buffer && cur < cap) {
    // The pixels the data did not reach are 0, also where the last chunk spilled over.
    std::memset(out + cur, 0, std::min<size_t>(kCopyChunk, cap - cur));
  } else if (buffer) {
    // Rows the data did not reach keep index 0, as the bitmap was made.
    int row = 0, pass = 0;
    for (size_t at = 0; at < cur && row < height; at += size_t(width)) {
      std::memcpy(image.scanLine(row), out + at, std::min(size_t(width), cur - at));
      row = interlaced ? NextInterlacedRow(row, pass, height) : row + 1;
    }
  }
  return cur;
}

// --- frames

TGIFFrame::TGIFFrame(TGIFData *owner) : fOwner(owner) {}

TGIFFrame::~TGIFFrame() { fBitmap.OnChange = nullptr; }

void TGIFFrame::ReadFrame(TStream &stream) {
  stream.Seek(-1, TSeekOrigin::soCurrent);
  TMPOwnedObjectList<TGIFExtension> extensions;
  uint8_t b = stream.ReadByte();
  while (b == 0x21) {
    const uint8_t label = stream.ReadByte();
    std::unique_ptr<TGIFExtension> ext;
    switch (label) {
    case 0x01:
      ext = std::make_unique<TPlainTextExtension>(stream);
      break;
    case 0xF9:
      ext = std::make_unique<TGraphicControlExtension>(stream);
      break;
    case 0xFE:
      ext = std::make_unique<TCommentExtension>(stream);
      break;
    case 0xFF:
      ext = std::make_unique<TApplicationExtension>(stream);
      break;
    default:
      SkipSubBlocks(stream);
      break;
    }
    if (ext) {
      extensions.Add(ext.get());
      ext.release();
    }
    b = stream.ReadByte();
  }
  if (b == 0x3B) {
    // Extensions followed by the trailer: a frame without a picture.
    stream.Seek(-1, TSeekOrigin::soCurrent);
    return;
  }
  if (b != 0x2C) throw EInvalidGraphicOperation(Format("Invalid GIF format seperator: $%llX", b));

  TImageDescriptor descriptor(stream, fOwner->GlobalColorTable());
  const int64_t pixels = int64_t(descriptor.Width) * descriptor.Height;
  if (fOwner->fPixelsRead + pixels > TGIFData::MaxPixels)
    throw EInvalidGraphic(
        Format("GIF picture too large (more than %lld pixels)", TGIFData::MaxPixels));
  fOwner->fPixelsRead += pixels;
  TRasterData raster(stream);

  fBitmap.SetPixelFormat(TPixelFormat::pf8bit);
  if (const TColorTable *table = descriptor.ActiveColorTable())
    fBitmap.SetPalette(table->CreatePalette());
  fBitmap.SetSize(descriptor.Width, descriptor.Height);
  if (!descriptor.ActiveColorTable() && !fBitmap.Image().isNull())
    fBitmap.RawImage().setColorTable(GreyRamp()); // no table at all: shades of grey
  {
    TDecoder decoder(raster.CodeSize, raster.Data);
    PixelsDecoded = int64_t(decoder.Decode(fBitmap, descriptor.Interlaced()));
  }
  HasImage = true;
  Left = descriptor.Left;
  Top = descriptor.Top;
  Interlaced = descriptor.Interlaced();

  for (TGIFExtension *ext : extensions) {
    try {
      if (auto *gce = dynamic_cast<TGraphicControlExtension *>(ext)) {
        Delay = std::min(gce->DelayTime / 10, 30);
        DelayTime = gce->DelayTime;
        Disposal = (gce->PackedFields >> 2) & 7;
        TransparentIndex = (gce->PackedFields & 1) ? gce->TransparentColorIndex : -1;
      } else if (auto *text = dynamic_cast<TPlainTextExtension *>(ext)) {
        const TColorTable *table = descriptor.ActiveColorTable();
        QColor fg, bg;
        if (table) {
          fg = ToQColor(table->GetColor(text->ForegroundIndex));
          bg = ToQColor(table->GetColor(text->BackgroundIndex));
        }
        // Text needs the font system of a graphical application.
        if (text->Lines.empty() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
          continue;
        const QString line = ToDisplay(text->Lines.front());
        fBitmap.Paint([&](QPainter &p) {
          QFont font = p.font();
          if (text->CellHeight > 0) font.setPixelSize(text->CellHeight);
          p.setFont(font);
          if (table) {
            p.setPen(fg);
            p.setBackgroundMode(Qt::OpaqueMode);
            p.setBackground(bg);
          }
          p.setClipRect(QRect(text->GridLeft, text->GridTop, text->GridWidth, text->GridHeight));
          p.drawText(QPoint(text->GridLeft, text->GridTop + QFontMetrics(font).ascent()), line);
        });
      }
    } catch (const EAbort &) {
    } catch (const Exception &e) {
      ApplicationHandleException(e);
    }
  }

  fBitmap.OnChange = [](TGraphic *) {
    throw EInvalidGraphicOperation(std::string("Cannot modify ") + ClassName() + " bitmap");
  };
}

// --- shared data

int TGIFData::MaxFrames = 16384;
int64_t TGIFData::MaxPixels = int64_t(1) << 28;

TGIFData::TGIFData() = default;
TGIFData::~TGIFData() = default;

void TGIFData::Release() {
  if (--fRefCount <= 0) delete this;
}

void TGIFData::ReadFrames() {
  if (fFramesRead) return;
  fFramesRead = true;
  fFrames = std::make_unique<TMPOwnedObjectList<TGIFFrame>>();
  if (!fStream) return;
  try {
    DoReadFrames();
  } catch (...) {
    fReadError = std::current_exception();
  }
}

void TGIFData::DoReadFrames() {
  TMemoryStream &s = *fStream;
  s.SetPosition(6);
  ScreenWidth = s.ReadLE16();
  ScreenHeight = s.ReadLE16();
  ScreenFlags = s.ReadByte();
  BackgroundIndex = s.ReadByte();
  AspectRatio = s.ReadByte();
  fGlobalColorTable.reset();
  if (ScreenFlags & 0x80)
    fGlobalColorTable = std::make_unique<TColorTable>(s, 3 << ((ScreenFlags & 7) + 1));
  uint8_t b = s.ReadByte();
  while (b != 0x3B) {
    if (fFrames->Count() >= MaxFrames)
      throw EInvalidGraphic(Format("Too many GIF frames (more than %lld)", MaxFrames));
    auto frame = std::make_unique<TGIFFrame>(this);
    frame->ReadFrame(s);
    fFrames->Add(frame.get());
    frame.release();
    b = s.ReadByte();
  }
}

int TGIFData::FrameCount() {
  ReadFrames();
  return fFrames->Count();
}

void TGIFData::CheckFrameNumber(int index) {
  const int count = FrameCount();
  if (index < 0 || index >= count)
    throw EInvalidGraphicOperation(Format("Invalid frame number %lld (0..%lld)", index, count - 1));
}

int32_t TGIFData::FrameDelay(int index) {
  CheckFrameNumber(index);
  return fFrames->Items(index)->Delay;
}

void TGIFData::SetFrameDelay(int index, int32_t value) {
  CheckFrameNumber(index);
  fFrames->Items(index)->Delay = value;
}

const TGIFFrame &TGIFData::Frame(int index) {
  CheckFrameNumber(index);
  return *fFrames->Items(index);
}

TBitmap &TGIFData::FrameBitmap(int index) {
  CheckFrameNumber(index);
  return fFrames->Items(index)->Bitmap();
}

std::string TGIFData::ReadErrorMessage() const {
  if (!fReadError) return std::string();
  try {
    std::rethrow_exception(fReadError);
  } catch (const std::exception &e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

// --- the picture

TMPTimerPool *GIFTimerPool() { return gPool; }

TGIFImage::TGIFImage() {
  fData = new TGIFData;
  fData->AddRef();
  if (!gPool) {
    gPool = new TMPTimerPool(nullptr);
    gPool->DefEnabled = false;
  }
  fTriggerHandle = gPool->AddTrigger(
      10, -1, [this](TMPTimerPool *, int32_t, uint32_t, uint32_t) { NextFrame(); });
}

TGIFImage::~TGIFImage() {
  fData->Release();
  if (gPool && fTriggerHandle != -1) {
    gPool->RemoveTrigger(fTriggerHandle);
    if (gPool->TriggerCount() == 0) {
      delete gPool;
      gPool = nullptr;
    }
  }
}

void TGIFImage::ReplaceData(TGIFData *data) {
  data->AddRef();
  TGIFData *old = fData;
  fScreen.reset();
  fData = data;
  old->Release();
}

TGIFScreen &TGIFImage::Screen() const {
  if (!fScreen) fScreen = std::make_unique<TGIFScreen>(*fData);
  return *fScreen;
}

void TGIFImage::SetComposed(bool on) {
  if (on == fComposed) return;
  fComposed = on;
  const int index = fCurrentFrame;
  fCurrentFrame = -1;
  SetCurrentFrame(index);
}

void TGIFImage::Assign(const TGraphic *source) {
  if (!source) {
    ReplaceData(new TGIFData);
    fCurrentFrame = -1;
    Changed();
    return;
  }
  if (auto *gif = dynamic_cast<const TGIFImage *>(source)) {
    ReplaceData(gif->fData);
    fCurrentFrame = gif->fCurrentFrame;
    Changed();
    return;
  }
  throw EInvalidGraphicOperation(std::string("Cannot assign to ") + ClassName());
}

void TGIFImage::Draw(QPainter &painter, const QRect &rect) const {
  if (fCurrentFrame < 0 || fCurrentFrame >= fData->FrameCount()) return;
  if (fComposed) {
    TGIFScreen &screen = Screen();
    const QImage &image = screen.Compose(screen.ShownFrameOf(fCurrentFrame));
    if (!image.isNull()) painter.drawImage(rect, image);
    return;
  }
  fData->FrameBitmap(fCurrentFrame).Draw(painter, rect);
}

bool TGIFImage::GetEmpty() const { return !fData->Stream() || fData->Stream()->ByteCount() == 0; }

int TGIFImage::GetWidth() const {
  if (!fData->Stream()) return 0;
  fData->ReadFrames();
  return fData->ScreenWidth;
}

int TGIFImage::GetHeight() const {
  if (!fData->Stream()) return 0;
  fData->ReadFrames();
  return fData->ScreenHeight;
}

void TGIFImage::SetWidth(int value) {
  if (fData->Stream()) value = std::min(value, GetWidth());
  if (value == fRequestedWidth) return;
  fRequestedWidth = value;
  Changed();
}

void TGIFImage::SetHeight(int value) {
  if (fData->Stream()) value = std::min(value, GetHeight());
  if (value == fRequestedHeight) return;
  fRequestedHeight = value;
  Changed();
}

void TGIFImage::LoadBytes(TStream &stream, int64_t count) {
  ReplaceData(new TGIFData);
  fCurrentFrame = -1;
  // The bytes land in one allocation, copied once, rather than in storage grown chunk by
  // chunk (which copies and clears a large file several times over).
  const int64_t available = stream.Size() - stream.Position();
  if (count > available) throw EReadError("Stream read error");
  std::vector<uint8_t> bytes;
  if (auto *mem = dynamic_cast<TMemoryStream *>(&stream)) {
    const uint8_t *from = mem->Memory() + mem->Position();
    bytes.assign(from, from + count);
    mem->Seek(count, TSeekOrigin::soCurrent);
  } else {
    bytes.resize(static_cast<size_t>(count));
    stream.ReadBuffer(bytes.data(), bytes.size());
  }
  fData->SetStream(std::make_unique<TMemoryStream>(std::move(bytes)));
  SetCurrentFrame(0);
}

void TGIFImage::LoadFromStream(TStream &stream) {
  const int64_t count = std::max<int64_t>(0, stream.Size() - stream.Position());
  LoadBytes(stream, count);
}

void TGIFImage::ReadData(TStream &stream) { LoadBytes(stream, stream.ReadLE32()); }

void TGIFImage::WriteData(TStream &stream) const {
  const TMemoryStream *s = fData->Stream();
  const uint32_t count = s ? static_cast<uint32_t>(s->ByteCount()) : 0;
  stream.WriteLE32(count);
  if (count > 0) s->SaveToStream(stream);
}

void TGIFImage::SaveToStream(TStream &stream) const {
  if (GetEmpty()) throw EInvalidGraphicOperation("No GIF data");
  fData->Stream()->SaveToStream(stream);
}

void TGIFImage::SaveToClipboardFormat() const {
  if (fCurrentFrame < 0 || fCurrentFrame >= fData->FrameCount()) return;
  fData->FrameBitmap(fCurrentFrame).SaveToClipboardFormat();
}

QImage TGIFImage::ToImage() const {
  if (fCurrentFrame < 0 || fCurrentFrame >= fData->FrameCount()) return QImage();
  if (fComposed) {
    TGIFScreen &screen = Screen();
    return screen.Compose(screen.ShownFrameOf(fCurrentFrame));
  }
  return fData->FrameBitmap(fCurrentFrame).Image();
}

int TGIFImage::FrameCount() const { return fData->FrameCount(); }

void TGIFImage::SetCurrentFrame(int index) {
  const int count = FrameCount();
  if (count == 0)
    index = -1; // no frame to show, whatever was asked
  else if (index >= count)
    index = count - 1;
  else if (index < 0)
    index = 0;
  if (fComposed && index >= 0) {
    TGIFScreen &screen = Screen();
    if (screen.Count() > 0) {
      const int shown = screen.ShownFrameOf(index);
      index = screen.LastImage(shown);
      screen.Compose(shown); // the step's work done here, the repaint only draws
    }
  }
  if (index == fCurrentFrame) return;
  fCurrentFrame = index;
  if (index >= 0 && gPool && fTriggerHandle != -1)
    gPool->SetTriggerInterval(fTriggerHandle, 10 * fData->FrameDelay(index));
  Changed();
}

void TGIFImage::NextFrame() {
  if (fComposed && Screen().Count() > 0) {
    const TGIFScreen &screen = Screen();
    const int next = screen.ShownFrameOf(fCurrentFrame) + 1;
    SetCurrentFrame(screen.LastImage(next < screen.Count() ? next : 0));
    return;
  }
  if (fCurrentFrame + 1 < FrameCount())
    SetCurrentFrame(fCurrentFrame + 1);
  else
    SetCurrentFrame(0);
}

void TGIFImage::SetAnimate(bool on) {
  if (gPool && fTriggerHandle != -1) gPool->SetTriggerEnabled(fTriggerHandle, on);
}

void TGIFImage::SetFrameDelays(int32_t value) {
  const int count = FrameCount();
  for (int i = 0; i < count; ++i)
    fData->SetFrameDelay(i, value);
}

} // namespace plm
