// TGIFImage loading on arbitrary bytes: the decoder stays inside its buffers, ends, and
// never lets an error out of the load; the frames composed on the logical screen stay
// inside the screen.
#include "imaging/GifScreen.h"
#include "imaging/MPGifImg.h"
#include "platform/graphics/Streams.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Text extensions draw with fonts, which need a graphical application.
  static int argc = 3;
  static char a0[] = "fuzz_gif", a1[] = "-platform", a2[] = "offscreen";
  static char *argv[] = {a0, a1, a2, nullptr};
  static QGuiApplication app(argc, argv);
  // Small limits keep each input cheap; the limits themselves are tested elsewhere.
  plm::TGIFData::MaxPixels = 1 << 22;
  plm::TGIFData::MaxFrames = 256;
  plm::TGIFScreen::MaxScreenPixels = 1 << 20;
  // Errors of picture extensions are shown by the application; here they are expected.
  plm::SetApplicationExceptionHandler([](const std::exception &) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  plm::TMemoryStream m(std::vector<uint8_t>(data, data + size));
  plm::TGIFImage gif;
  gif.LoadFromStream(m); // frame errors are kept, not raised
  const int n = gif.FrameCount();
  QImage canvas(8, 8, QImage::Format_RGB32);
  QPainter p(&canvas);
  for (int i = 0; i < n && i < 4; ++i) {
    gif.NextFrame();
    gif.Draw(p, QRect(0, 0, 8, 8));
  }
  // As the picture window shows it: every shown frame once, then back to the first.
  gif.SetComposed(true);
  const int shown = gif.Screen().Count();
  for (int i = 0; i <= shown && i < 64; ++i) {
    gif.NextFrame();
    gif.Draw(p, QRect(0, 0, 8, 8));
  }
  if (shown > 0 && gif.Width() > 0 && gif.Height() > 0 &&
      gif.ToImage().size() != QSize(gif.Width(), gif.Height()))
    __builtin_trap();
  plm::TMemoryStream out;
  if (!gif.Empty()) gif.SaveToStream(out);
  if (out.ByteCount() != size) __builtin_trap();
  return 0;
}
