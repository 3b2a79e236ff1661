#include "imaging/JPEGImage.h"

#include "platform/graphics/Streams.h"

#include <QPainter>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace plm {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return. It jumps back to
// the frame that set the jump point; the frames in between are the library's C code and
// the small setjmp frames below, which hold no C++ objects with destructors. The caller
// then raises the error as an exception.
struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto *err = reinterpret_cast<ErrorMgr *>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void SilentOutput(j_common_ptr) {} // warnings (corrupt data the library skips) are not shown

void InitError(ErrorMgr &err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.output_message = SilentOutput;
  err.message[0] = 0;
}

enum class Failure { None, Library, TooLarge, NoMemory };

struct HeaderJob {
  const uint8_t *data = nullptr;
  size_t size = 0;
  int width = 0, height = 0;
  bool progressive = false;
  Failure failure = Failure::None;
  char message[JMSG_LENGTH_MAX] = {};
};

bool RunReadHeader(HeaderJob &job) {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  InitError(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    std::memcpy(job.message, err.message, sizeof job.message);
    job.failure = Failure::Library;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, job.data, static_cast<unsigned long>(job.size));
  jpeg_read_header(&cinfo, TRUE);
  job.width = static_cast<int>(cinfo.image_width);
  job.height = static_cast<int>(cinfo.image_height);
  job.progressive = cinfo.progressive_mode != 0;
  jpeg_destroy_decompress(&cinfo);
  return true;
}

struct DecodeJob {
  const uint8_t *data = nullptr;
  size_t size = 0;
  unsigned denom = 1;
  bool grayscale = false, quantize = false, fast = false, progressive = false;
  int64_t maxPixels = 0, maxStoredPixels = 0;

  QImage image;
  // Called after each output pass of a progressive display; its errors are kept for the
  // caller, never thrown through the library.
  std::function<void()> passDone;
  std::exception_ptr callbackError;
  Failure failure = Failure::None;
  char message[JMSG_LENGTH_MAX] = {};

  bool Allocate(int w, int h, QImage::Format format) {
    try {
      image = QImage(w, h, format);
    } catch (...) {
      image = QImage();
    }
    if (image.isNull()) return false;
    if (format == QImage::Format_Indexed8) {
      QList<QRgb> grey(256);
      for (int i = 0; i < 256; ++i)
        grey[i] = qRgb(i, i, i);
      image.setColorTable(grey);
    }
    image.fill(0);
    return true;
  }
  void SetColormap(JSAMPARRAY map, int count, int components) {
    QList<QRgb> table(256, qRgb(0, 0, 0));
    for (int i = 0; i < count && i < 256; ++i)
      table[i] = components == 1 ? qRgb(map[0][i], map[0][i], map[0][i])
                                 : qRgb(map[0][i], map[1][i], map[2][i]);
    image.setColorTable(table);
  }
  uchar *Row(int y) { return image.scanLine(y); }
  void PassDone() {
    if (!passDone || callbackError) return;
    try {
      passDone();
    } catch (...) {
      callbackError = std::current_exception();
    }
  }
};

// Adobe CMYK (stored inverted) to RGB32.
void CmykRowToRgb(const JSAMPLE *src, uchar *dst, int width) {
  auto *out = reinterpret_cast<QRgb *>(dst);
  for (int x = 0; x < width; ++x, src += 4) {
    const int k = src[3];
    out[x] = qRgb(src[0] * k / 255, src[1] * k / 255, src[2] * k / 255);
  }
}

void ReadPass(jpeg_decompress_struct &cinfo, DecodeJob &job, bool cmyk, JSAMPARRAY temp) {
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    if (cmyk) {
      jpeg_read_scanlines(&cinfo, temp, 1);
      CmykRowToRgb(temp[0], job.Row(y), static_cast<int>(cinfo.output_width));
    } else {
      JSAMPROW row = job.Row(y);
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
  }
}

bool RunDecode(DecodeJob &job) {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  InitError(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    std::memcpy(job.message, err.message, sizeof job.message);
    job.failure = Failure::Library;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, job.data, static_cast<unsigned long>(job.size));
  jpeg_read_header(&cinfo, TRUE);

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  const bool grey = job.grayscale || cinfo.num_components == 1;
  cinfo.scale_num = 1;
  cinfo.scale_denom = job.denom;
  cinfo.dct_method = job.fast ? JDCT_IFAST : JDCT_ISLOW;
  cinfo.do_fancy_upsampling = job.fast ? FALSE : TRUE;
  QImage::Format format = QImage::Format_RGB32;
  if (grey) {
    cinfo.out_color_space = JCS_GRAYSCALE;
    format = QImage::Format_Indexed8;
  } else if (cmyk) {
    cinfo.out_color_space = JCS_CMYK;
  } else {
    cinfo.out_color_space = JCS_EXT_BGRX; // the byte order of RGB32 in memory
    if (job.quantize) {
      cinfo.out_color_space = JCS_RGB;
      cinfo.quantize_colors = TRUE;
      cinfo.desired_number_of_colors = 256;
      cinfo.two_pass_quantize = TRUE;
      format = QImage::Format_Indexed8;
    }
  }
  const bool buffered = job.progressive && jpeg_has_multiple_scans(&cinfo);
  cinfo.buffered_image = buffered ? TRUE : FALSE;
  jpeg_calc_output_dimensions(&cinfo);
  if (int64_t(cinfo.output_width) * int64_t(cinfo.output_height) > job.maxPixels ||
      int64_t(cinfo.image_width) * int64_t(cinfo.image_height) > job.maxStoredPixels) {
    job.failure = Failure::TooLarge;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (!job.Allocate(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    format)) {
    job.failure = Failure::NoMemory;
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.quantize_colors)
    job.SetColormap(cinfo.colormap, cinfo.actual_number_of_colors, cinfo.out_color_components);
  JSAMPARRAY temp = nullptr;
  if (cmyk)
    temp = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                      cinfo.output_width * 4, 1);
  if (buffered) {
    while (!jpeg_input_complete(&cinfo)) {
      jpeg_start_output(&cinfo, cinfo.input_scan_number);
      ReadPass(cinfo, job, cmyk, temp);
      jpeg_finish_output(&cinfo);
      job.PassDone();
    }
  } else {
    ReadPass(cinfo, job, cmyk, temp);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

struct EncodeJob {
  const QImage *image = nullptr; // RGB888
  int quality = 90;
  bool progressive = false;
  std::vector<uint8_t> out;
  JOCTET buffer[65536];
  char message[JMSG_LENGTH_MAX] = {};
  bool noMemory = false;
};

struct Destination {
  jpeg_destination_mgr pub;
  EncodeJob *job;
};

void InitDestination(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  d->pub.next_output_byte = d->job->buffer;
  d->pub.free_in_buffer = sizeof d->job->buffer;
}

bool Flush(EncodeJob &job, size_t n) {
  try {
    job.out.insert(job.out.end(), job.buffer, job.buffer + n);
    return true;
  } catch (...) {
    job.noMemory = true;
    return false;
  }
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  if (!Flush(*d->job, sizeof d->job->buffer)) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  }
  d->pub.next_output_byte = d->job->buffer;
  d->pub.free_in_buffer = sizeof d->job->buffer;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  if (!Flush(*d->job, sizeof d->job->buffer - d->pub.free_in_buffer)) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
  }
}

bool RunEncode(EncodeJob &job, Destination &dest) {
  jpeg_compress_struct cinfo;
  ErrorMgr err;
  InitError(err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    std::memcpy(job.message, err.message, sizeof job.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest.pub.init_destination = InitDestination;
  dest.pub.empty_output_buffer = EmptyOutput;
  dest.pub.term_destination = TermDestination;
  dest.job = &job;
  cinfo.dest = &dest.pub;
  cinfo.image_width = static_cast<JDIMENSION>(job.image->width());
  cinfo.image_height = static_cast<JDIMENSION>(job.image->height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, job.quality, TRUE);
  if (job.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    auto row =
        const_cast<JSAMPROW>(job.image->constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

unsigned Denominator(TJPEGScale s) {
  switch (s) {
  case jsHalf:
    return 2;
  case jsQuarter:
    return 4;
  case jsEighth:
    return 8;
  default:
    return 1;
  }
}

int Scaled(int size, TJPEGScale s) {
  const unsigned d = Denominator(s);
  return static_cast<int>((static_cast<unsigned>(size) + d - 1) / d);
}

} // namespace

TJPEGImage::TJPEGImage() = default;
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Assign(const TGraphic *source) {
  if (!source) {
    fData.clear();
    fBitmap.reset();
    fFromImage = false;
    fDecodeFailed = false;
    fStoredWidth = fStoredHeight = 0;
    fProgressiveFile = false;
    Changed();
    return;
  }
  if (auto *j = dynamic_cast<const TJPEGImage *>(source)) {
    if (j == this) return;
    fData = j->fData;
    fFromImage = j->fFromImage;
    fBitmap.reset();
    if (j->fBitmap && (j->fFromImage || j->fData.empty()))
      fBitmap = std::make_unique<TBitmap>(j->fBitmap->Image());
    fDecodeFailed = false;
    fStoredWidth = j->fStoredWidth;
    fStoredHeight = j->fStoredHeight;
    fProgressiveFile = j->fProgressiveFile;
    fPixelFormat = j->fPixelFormat;
    fScale = j->fScale;
    fGrayscale = j->fGrayscale;
    fPerformance = j->fPerformance;
    fProgressiveDisplay = j->fProgressiveDisplay;
    fQuality = j->fQuality;
    fProgressiveEncoding = j->fProgressiveEncoding;
    fSmoothing = j->fSmoothing;
    Changed();
    return;
  }
  Assign(source->ToImage());
}

void TJPEGImage::Assign(const QImage &image) {
  fData.clear();
  fDecodeFailed = false;
  fProgressiveFile = false;
  if (image.isNull()) {
    fBitmap.reset();
    fFromImage = false;
    fStoredWidth = fStoredHeight = 0;
  } else {
    fBitmap = std::make_unique<TBitmap>(image);
    fFromImage = true;
    fStoredWidth = image.width();
    fStoredHeight = image.height();
  }
  Changed();
}

void TJPEGImage::Draw(QPainter &painter, const QRect &rect) const {
  if (!fDecoding) {
    // A picture that cannot be decoded draws nothing (and is not decoded again at every
    // repaint); DIBNeeded reports the error to callers that ask for it.
    if (fDecodeFailed) return;
    try {
      DIBNeeded();
    } catch (const std::exception &) {
      return;
    }
  }
  if (fBitmap) fBitmap->Draw(painter, rect);
}

bool TJPEGImage::GetEmpty() const { return fData.empty() && !fBitmap; }

int TJPEGImage::GetWidth() const {
  if (fBitmap) return fBitmap->Width();
  return fData.empty() ? 0 : Scaled(fStoredWidth, fScale);
}

int TJPEGImage::GetHeight() const {
  if (fBitmap) return fBitmap->Height();
  return fData.empty() ? 0 : Scaled(fStoredHeight, fScale);
}

void TJPEGImage::SetHeight(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}
void TJPEGImage::SetWidth(int) {
  throw EInvalidGraphicOperation("Cannot change the size of a JPEG image");
}

void TJPEGImage::LoadFromStream(TStream &stream) {
  TMemoryStream m;
  m.CopyRest(stream);
  HeaderJob job;
  job.data = m.Memory();
  job.size = m.ByteCount();
  if (job.size == 0 || !RunReadHeader(job))
    throw EJPEG(job.size == 0 ? std::string("Empty JPEG stream") : std::string(job.message));
  fData = m.Bytes();
  fBitmap.reset();
  fFromImage = false;
  fDecodeFailed = false;
  fStoredWidth = job.width;
  fStoredHeight = job.height;
  fProgressiveFile = job.progressive;
  Changed();
}

void TJPEGImage::SaveToStream(TStream &stream) const {
  JPEGNeeded();
  stream.WriteBuffer(fData.data(), fData.size());
}

QImage TJPEGImage::ToImage() const {
  if (GetEmpty()) return QImage();
  return Bitmap().Image();
}

void TJPEGImage::Compress() {
  if (!fBitmap || fBitmap->Empty()) {
    if (fData.empty()) return;
    DIBNeeded();
  }
  EncodeJob job;
  const QImage rgb = fBitmap->Image().convertToFormat(QImage::Format_RGB888);
  job.image = &rgb;
  job.quality = fQuality;
  job.progressive = fProgressiveEncoding;
  auto dest = std::make_unique<Destination>();
  if (!RunEncode(job, *dest)) {
    if (job.noMemory) throw EOutOfMemory("Out of memory");
    throw EJPEG(job.message);
  }
  fData.swap(job.out);
  fStoredWidth = rgb.width();
  fStoredHeight = rgb.height();
  fProgressiveFile = fProgressiveEncoding;
}

void TJPEGImage::JPEGNeeded() const {
  if (fData.empty() && fBitmap && !fBitmap->Empty()) const_cast<TJPEGImage *>(this)->Compress();
}

void TJPEGImage::DIBNeeded() const {
  if (fBitmap || fData.empty() || fDecoding) return;
  Decode();
}

const TBitmap &TJPEGImage::Bitmap() const {
  DIBNeeded();
  static const TBitmap empty;
  return fBitmap ? *fBitmap : empty;
}

void TJPEGImage::Decode() const {
  DecodeJob job;
  job.data = fData.data();
  job.size = fData.size();
  job.denom = Denominator(fScale);
  job.grayscale = fGrayscale;
  job.fast = fPerformance == jpBestSpeed;
  job.progressive = fProgressiveDisplay;
  job.maxPixels = MaxPixels;
  job.maxStoredPixels = MaxStoredPixels;
  // The library's best colour reduction needs the whole picture: a progressive display
  // shows its passes in true colour, and the 8-bit picture is decoded once more at the end.
  const bool quantize = fPixelFormat == jf8Bit;
  const bool finalPass = quantize && fProgressiveDisplay && fProgressiveFile;
  job.quantize = quantize && !finalPass;
  auto *self = const_cast<TJPEGImage *>(this);
  job.passDone = [self, &job] {
    // Show the pass: the bitmap holds what has been decoded so far.
    self->fBitmap = std::make_unique<TBitmap>(job.image.copy());
    self->Changed();
  };
  auto fail = [this](const DecodeJob &j) {
    fBitmap.reset();
    fDecodeFailed = true;
    switch (j.failure) {
    case Failure::TooLarge:
      throw EJPEG("JPEG image too large");
    case Failure::NoMemory:
      throw EOutOfMemory("Out of memory");
    default:
      throw EJPEG(j.message);
    }
  };
  fDecoding = true;
  bool ok = RunDecode(job);
  if (ok && finalPass) {
    DecodeJob last;
    last.data = job.data;
    last.size = job.size;
    last.denom = job.denom;
    last.grayscale = job.grayscale;
    last.fast = job.fast;
    last.quantize = true;
    last.maxPixels = job.maxPixels;
    last.maxStoredPixels = job.maxStoredPixels;
    ok = RunDecode(last);
    if (!ok) {
      fDecoding = false;
      fail(last);
    }
    job.image = last.image;
  }
  fDecoding = false;
  if (!ok) fail(job);
  // A CMYK picture is converted by this class, after the library: reduce it here.
  if (quantize && job.image.format() != QImage::Format_Indexed8)
    job.image = job.image.convertToFormat(QImage::Format_Indexed8);
  fBitmap = std::make_unique<TBitmap>(job.image);
  if (job.callbackError) std::rethrow_exception(job.callbackError);
}

void TJPEGImage::FreeBitmap() {
  // An assigned image is the picture itself; only a decoded bitmap can be made again.
  if (fFromImage || fData.empty()) return;
  fBitmap.reset();
  fDecodeFailed = false;
}

void TJPEGImage::OptionChanged() {
  if (fFromImage || fData.empty()) return;
  FreeBitmap();
  Changed();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat value) { SetOption(fPixelFormat, value); }

void TJPEGImage::SetScale(TJPEGScale value) { SetOption(fScale, value); }

void TJPEGImage::SetGrayscale(bool value) { SetOption(fGrayscale, value); }

void TJPEGImage::SetPerformance(TJPEGPerformance value) { SetOption(fPerformance, value); }

void TJPEGImage::SetCompressionQuality(int value) {
  value = std::clamp(value, 1, 100);
  if (value == fQuality) return;
  fQuality = value;
  // An assigned image is compressed again with the new quality when it is next saved.
  if (fFromImage) fData.clear();
}

void TJPEGImage::SetProgressiveEncoding(bool value) {
  if (value == fProgressiveEncoding) return;
  fProgressiveEncoding = value;
  if (fFromImage) fData.clear();
}

} // namespace plm
