#pragma once
// A GIF picture as it is shown: its frames composed on the logical screen. Each image is
// drawn at its offset, clipped to the screen, the pixels of its transparent index (from its
// graphic control extension) and those its data did not reach leaving what lies below;
// before an image, the disposal method of the image drawn before it is applied (keep;
// restore to background, which clears to transparent; restore to previous). The screen
// starts transparent. Images with no wait after them (no graphic control extension, or a
// delay of 0) are shown together with the ones that follow: a shown frame ends with an image
// that has a delay, or with the last image. Extensions without an image draw nothing.
// The decoder's own frames are read, never changed.
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace plm {

class TGIFData;
class TGIFFrame;

class TGIFScreen {
public:
  // Reads the frames of data (which must outlive the screen) when not read yet.
  explicit TGIFScreen(TGIFData &data);

  // Shown frames; 0 when there is no image, or the screen is too large to compose.
  int Count() const { return static_cast<int>(fLast.size()); }
  // The decoder frame that ends shown frame index (0..Count-1).
  int LastImage(int index) const { return fLast[static_cast<size_t>(index)]; }
  // The shown frame that decoder frame image belongs to (the last for frames after the
  // last image); -1 when Count is 0.
  int ShownFrameOf(int image) const;

  // The screen as it is once shown frame index is drawn: stepped on from the frame shown
  // before when it follows it, composed from the start otherwise. Premultiplied ARGB of
  // the logical screen's size (null when Count is 0). index outside 0..Count-1 changes
  // nothing.
  const QImage &Compose(int index);
  const QImage &Image() const { return fScreen; }
  int Current() const { return fCurrent; }
  // Why nothing can be composed although there are images; empty otherwise.
  const std::string &Error() const { return fError; }

  // The largest logical screen composed (width x height); a larger one shows nothing.
  static int64_t MaxScreenPixels;

private:
  void Restart();
  void Dispose(const TGIFFrame &frame);
  void DrawImage(const TGIFFrame &frame);
  QRect Area(const TGIFFrame &frame) const;

  TGIFData &fData;
  std::vector<int> fLast;  // the last decoder frame of each shown frame
  QImage fScreen;
  QImage fSaved;           // the area under an image disposed of by restoring the previous
  int fCurrent = -1;       // shown frame on the screen
  int fDrawn = -1;         // decoder frame drawn last
  std::string fError;
};

} // namespace plm
