#include "GifFixtures.h"

#include <gif_lib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fixtures {

namespace {

struct Reader {
  const std::vector<uint8_t> *bytes;
  size_t pos = 0;
};

int WriteToVector(GifFileType *gif, const GifByteType *data, int n) {
  auto *out = static_cast<std::vector<uint8_t> *>(gif->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}

int ReadFromVector(GifFileType *gif, GifByteType *data, int n) {
  auto *r = static_cast<Reader *>(gif->UserData);
  const size_t left = r->bytes->size() - r->pos;
  const size_t k = std::min(left, static_cast<size_t>(n));
  std::memcpy(data, r->bytes->data() + r->pos, k);
  r->pos += k;
  return static_cast<int>(k);
}

ColorMapObject *MakeMap(const std::vector<Rgb> &colors) {
  if (colors.empty()) return nullptr;
  std::vector<GifColorType> c(colors.size());
  for (size_t i = 0; i < colors.size(); ++i)
    c[i] = GifColorType{colors[i][0], colors[i][1], colors[i][2]};
  ColorMapObject *map = GifMakeMapObject(static_cast<int>(c.size()), c.data());
  if (!map) throw std::runtime_error("colour table size must be a power of two");
  return map;
}

} // namespace

std::vector<Rgb> Palette(int n) {
  std::vector<Rgb> p(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    p[i] = Rgb{uint8_t(i * 37 + 11), uint8_t(255 - i), uint8_t((i * 91) ^ 0x5A)};
  return p;
}

std::vector<uint8_t> Pixels(int w, int h, int colors, uint32_t seed, int runLength) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h);
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&] {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  uint8_t cur = 0;
  for (auto &p : px) {
    if (runLength <= 1 || next() % uint32_t(runLength) == 0)
      cur = uint8_t(next() % uint32_t(colors));
    p = cur;
  }
  return px;
}

std::vector<uint8_t> Encode(const Gif &g) {
  std::vector<uint8_t> out;
  int err = 0;
  GifFileType *gif = EGifOpen(&out, WriteToVector, &err);
  if (!gif) throw std::runtime_error("EGifOpen failed");
  EGifSetGifVersion(gif, true);
  auto fail = [&](const char *what) {
    EGifCloseFile(gif, &err);
    throw std::runtime_error(what);
  };
  ColorMapObject *screenMap = MakeMap(g.colors);
  const int rc = EGifPutScreenDesc(gif, g.width, g.height, 8, 0, screenMap);
  GifFreeMapObject(screenMap);
  if (rc != GIF_OK) fail("EGifPutScreenDesc failed");
  for (const Frame &f : g.frames) {
    if (f.delay >= 0) {
      GraphicsControlBlock gcb{f.disposal, false, f.delay,
                               f.transparent < 0 ? NO_TRANSPARENT_COLOR : f.transparent};
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_OK)
        fail("EGifPutExtension failed");
    }
    // giflib keeps a copy of the previous image's table and does not free it when the
    // next image replaces it.
    if (gif->Image.ColorMap) {
      GifFreeMapObject(gif->Image.ColorMap);
      gif->Image.ColorMap = nullptr;
    }
    ColorMapObject *map = MakeMap(f.colors);
    const int r = EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, map);
    GifFreeMapObject(map);
    if (r != GIF_OK) fail("EGifPutImageDesc failed");
    auto line = [&](int y) {
      auto *row = const_cast<GifPixelType *>(f.pixels.data() + size_t(y) * f.width);
      if (EGifPutLine(gif, row, f.width) != GIF_OK) fail("EGifPutLine failed");
    };
    if (f.interlace) {
      // Rows go out in interlace order.
      const int first[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = first[pass]; y < f.height; y += step[pass])
          line(y);
    } else {
      for (int y = 0; y < f.height; ++y)
        line(y);
    }
  }
  if (EGifCloseFile(gif, &err) != GIF_OK) throw std::runtime_error("EGifCloseFile failed");
  return out;
}

Frame FullFrame(int width, int height, int colors, uint32_t seed, int runLength) {
  Frame f;
  f.width = width;
  f.height = height;
  f.pixels = Pixels(width, height, colors, seed, runLength);
  return f;
}

std::vector<uint8_t> OneFrameGif(int width, int height, int colors, std::vector<uint8_t> pixels) {
  Gif g;
  g.width = width;
  g.height = height;
  g.colors = Palette(colors);
  Frame f;
  f.width = width;
  f.height = height;
  f.pixels = std::move(pixels);
  g.frames.push_back(std::move(f));
  return Encode(g);
}

bool Decode(const std::vector<uint8_t> &bytes, std::vector<Decoded> &frames) {
  Reader r{&bytes};
  int err = 0;
  GifFileType *gif = DGifOpen(&r, ReadFromVector, &err);
  if (!gif) return false;
  const bool ok = DGifSlurp(gif) == GIF_OK;
  if (ok) {
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage &s = gif->SavedImages[i];
      Decoded d;
      d.width = s.ImageDesc.Width;
      d.height = s.ImageDesc.Height;
      d.pixels.assign(s.RasterBits, s.RasterBits + size_t(d.width) * d.height);
      GraphicsControlBlock gcb;
      if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) d.delay = gcb.DelayTime;
      frames.push_back(std::move(d));
    }
  }
  DGifCloseFile(gif, &err);
  return ok;
}

bool Compose(const std::vector<uint8_t> &bytes, int &width, int &height,
             std::vector<std::vector<uint32_t>> &shown) {
  Reader r{&bytes};
  int err = 0;
  GifFileType *gif = DGifOpen(&r, ReadFromVector, &err);
  if (!gif) return false;
  const bool ok = DGifSlurp(gif) == GIF_OK;
  width = gif->SWidth;
  height = gif->SHeight;
  std::vector<uint32_t> screen(size_t(width) * size_t(height), 0), saved;
  int previousDisposal = DISPOSAL_UNSPECIFIED;
  GifImageDesc previous{};
  for (int i = 0; ok && i < gif->ImageCount; ++i) {
    const SavedImage &image = gif->SavedImages[i];
    const GifImageDesc &d = image.ImageDesc;
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, -1, NO_TRANSPARENT_COLOR};
    DGifSavedExtensionToGCB(gif, i, &gcb);
    if (previousDisposal == DISPOSE_BACKGROUND) {
      for (int y = previous.Top; y < previous.Top + previous.Height && y < height; ++y)
        for (int x = previous.Left; x < previous.Left + previous.Width && x < width; ++x)
          screen[size_t(y) * width + x] = 0;
    } else if (previousDisposal == DISPOSE_PREVIOUS) {
      screen = saved;
    }
    if (gcb.DisposalMode == DISPOSE_PREVIOUS) saved = screen;
    const ColorMapObject *map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    for (int y = 0; y < d.Height; ++y)
      for (int x = 0; x < d.Width; ++x) {
        const int sx = d.Left + x, sy = d.Top + y;
        const int index = image.RasterBits[size_t(y) * d.Width + x];
        if (sx >= width || sy >= height || index == gcb.TransparentColor) continue;
        uint32_t c = 0xFF000000u;
        if (map && index < map->ColorCount) {
          const GifColorType &e = map->Colors[index];
          c |= uint32_t(e.Red) << 16 | uint32_t(e.Green) << 8 | e.Blue;
        }
        screen[size_t(sy) * width + sx] = c;
      }
    previousDisposal = gcb.DisposalMode;
    previous = d;
    if (gcb.DelayTime > 0 || i == gif->ImageCount - 1) shown.push_back(screen);
  }
  DGifCloseFile(gif, &err);
  return ok;
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

} // namespace fixtures
