// Decoding speed of TGIFImage against giflib's DGifSlurp on the same bytes, in the same run;
// the cost of composing the animation's frames on its logical screen, and of one frame step
// of the picture viewer control; the header inspector over many small files. The pictures
// are generated at start.
#include "tests/imaging/GifFixtures.h"

#include "imaging/AdvImage.h"
#include "imaging/DCImageInfo.h"
#include "imaging/GifScreen.h"
#include "imaging/MPGifImg.h"
#include "platform/graphics/Streams.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

// An animation with the texture of a real one: runs of a few pixels, 256 colours.
const std::vector<uint8_t> &Animation() {
  static const std::vector<uint8_t> bytes = [] {
    fixtures::Gif g;
    g.width = 800;
    g.height = 600;
    g.colors = fixtures::Palette(256);
    for (int i = 0; i < 100; ++i) {
      fixtures::Frame f = fixtures::FullFrame(800, 600, 256, uint32_t(i + 1), 6);
      f.delay = 4;
      g.frames.push_back(std::move(f));
    }
    return fixtures::Encode(g);
  }();
  return bytes;
}

const std::vector<uint8_t> &Still() {
  static const std::vector<uint8_t> bytes =
      fixtures::OneFrameGif(4000, 3000, 256, fixtures::Pixels(4000, 3000, 256, 77, 6));
  return bytes;
}

void DecodeWithTGIFImage(benchmark::State &state, const std::vector<uint8_t> &bytes, int frames) {
  // The source made once, as giflib's reader reads the bytes in place: copying them into a
  // new stream at every iteration would charge the picture with a copy giflib is spared.
  plm::TMemoryStream m(bytes);
  for (auto _ : state) {
    m.SetPosition(0);
    plm::TGIFImage gif;
    gif.LoadFromStream(m);
    if (gif.FrameCount() != frames) state.SkipWithError("wrong frame count");
    benchmark::DoNotOptimize(gif.Data()->FrameBitmap(frames - 1).Image().constBits());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

struct Reader {
  const std::vector<uint8_t> *bytes;
  size_t pos;
};

int Read(GifFileType *gif, GifByteType *data, int n) {
  auto *r = static_cast<Reader *>(gif->UserData);
  const size_t k = std::min(r->bytes->size() - r->pos, size_t(n));
  std::memcpy(data, r->bytes->data() + r->pos, k);
  r->pos += k;
  return int(k);
}

void DecodeWithGiflib(benchmark::State &state, const std::vector<uint8_t> &bytes, int frames) {
  for (auto _ : state) {
    Reader r{&bytes, 0};
    int err = 0;
    GifFileType *gif = DGifOpen(&r, Read, &err);
    if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount != frames)
      state.SkipWithError("giflib failed");
    if (gif) {
      benchmark::DoNotOptimize(gif->SavedImages[frames - 1].RasterBits);
      DGifCloseFile(gif, &err);
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Animation_TGIFImage(benchmark::State &s) { DecodeWithTGIFImage(s, Animation(), 100); }
void BM_Animation_DGifSlurp(benchmark::State &s) { DecodeWithGiflib(s, Animation(), 100); }
void BM_Still_TGIFImage(benchmark::State &s) { DecodeWithTGIFImage(s, Still(), 1); }
void BM_Still_DGifSlurp(benchmark::State &s) { DecodeWithGiflib(s, Still(), 1); }

// Every shown frame of the animation composed in turn, on top of the decoding done once.
void BM_Animation_Compose(benchmark::State &state) {
  plm::TMemoryStream m(Animation());
  plm::TGIFImage gif;
  gif.LoadFromStream(m);
  if (gif.FrameCount() != 100) state.SkipWithError("wrong frame count");
  for (auto _ : state) {
    plm::TGIFScreen screen(*gif.Data());
    if (screen.Count() != 100) state.SkipWithError("wrong shown frame count");
    for (int i = 0; i < screen.Count(); ++i)
      benchmark::DoNotOptimize(screen.Compose(i).constBits());
  }
}

// One step of the animation in a shown viewer control, as its trigger makes it: the next
// shown frame composed and the control repainted.
void BM_Animation_WindowFrameStep(benchmark::State &state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/anim.gif";
  fixtures::WriteFile(path, Animation());
  plm::TAdvImage view;
  view.resize(800, 600);
  view.SetGIFComposed(true);
  view.SetImageName(path);
  view.show();
  QApplication::processEvents();
  auto *gif = dynamic_cast<plm::TGIFImage *>(view.Picture().Graphic());
  if (!gif || gif->FrameCount() != 100) {
    state.SkipWithError("animation not loaded");
    return;
  }
  for (auto _ : state)
    gif->NextFrame(); // repaints before it returns
  state.SetItemsProcessed(int64_t(state.iterations()));
}

BENCHMARK(BM_Animation_TGIFImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Animation_Compose)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Animation_WindowFrameStep)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Animation_DGifSlurp)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Still_TGIFImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Still_DGifSlurp)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// 10,000 small picture files of every kind the inspector knows, and some that are none.
struct SmallFiles {
  QTemporaryDir dir;
  std::vector<std::string> paths;
  SmallFiles() {
    const std::vector<std::vector<uint8_t>> kinds = {
        {'G', 'I', 'F', '8', '9', 'a', 120, 0, 60, 0, 0xF7, 0, 0},
        {0x89, 'P', 'N', 'G', 13, 10,   26, 10, 0, 0,    0, 13, 'I', 'H',
         'D',  'R', 0,   0,   2,  0x80, 0,  0,  1, 0xE0, 8, 2,  0},
        {'B', 'M', 54, 0,  0, 0, 0, 0,  0, 0, 54, 0, 0, 0,  40,
         0,   0,   0,  33, 0, 0, 0, 21, 0, 0, 0,  1, 0, 24, 0},
        {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J',  'F', 'I',  'F', 0, 1,    1, 0, 0,    1, 0, 1,    0, 0,
         0xFF, 0xC0, 0,    17,   8, 1,  0x2C, 1,   0x90, 3,   1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1},
        std::vector<uint8_t>(2048, 'x'), // text: scanned to its end
    };
    for (int i = 0; i < 10000; ++i) {
      const std::string path = dir.path().toStdString() + "/f" + std::to_string(i);
      std::vector<uint8_t> b = kinds[size_t(i) % kinds.size()];
      b.resize(b.size() + size_t(i % 700), 0x20); // sizes of a few hundred bytes to 2.7 KB
      fixtures::WriteFile(path, b);
      paths.push_back(path);
    }
  }
};

SmallFiles &Files() {
  static SmallFiles f;
  return f;
}

void BM_Inspector_10000Files(benchmark::State &state) {
  auto &files = Files();
  for (auto _ : state) {
    int64_t known = 0;
    for (const std::string &p : files.paths) {
      plm::TDCImageInfo info;
      info.ReadInfo(p);
      known += info.ImageType != 0;
    }
    if (known != 8000) state.SkipWithError("wrong results");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 10000);
}

// The same files opened, read whole and closed: what the file system costs alone.
void BM_OpenReadClose_10000Files(benchmark::State &state) {
  auto &files = Files();
  std::vector<char> buf(4096);
  for (auto _ : state) {
    for (const std::string &p : files.paths) {
      const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
      while (read(fd, buf.data(), buf.size()) > 0) {
      }
      close(fd);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 10000);
}

BENCHMARK(BM_Inspector_10000Files)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenReadClose_10000Files)->Unit(benchmark::kMillisecond);

// Collects the mean time of each benchmark to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &r : runs)
      if (r.iterations > 0) {
        const std::string name = r.benchmark_name();
        fTimes[name.substr(0, name.find('/'))] = r.GetAdjustedRealTime();
      }
  }
  void PrintRatios() const {
    auto ratio = [&](const char *name, const char *a, const char *b) {
      auto ia = fTimes.find(a), ib = fTimes.find(b);
      if (ia == fTimes.end() || ib == fTimes.end()) return;
      std::printf("%-44s %.3f  (%s / %s; below 1 means faster)\n", name, ia->second / ib->second, a,
                  b);
    };
    std::printf("\nBuild type: %s (%s)\n", PLM_BUILD_TYPE, PLM_BUILD_FLAGS);
    ratio("100 x 800x600 animation, TGIFImage/giflib:", "BM_Animation_TGIFImage",
          "BM_Animation_DGifSlurp");
    ratio("  composing its 100 shown frames / giflib:", "BM_Animation_Compose",
          "BM_Animation_DGifSlurp");
    if (auto step = fTimes.find("BM_Animation_WindowFrameStep"); step != fTimes.end())
      std::printf("%-44s %.3f ms  (below 5 ms asked)\n", "  window frame step:", step->second);
    ratio("4000x3000 still, TGIFImage/giflib:", "BM_Still_TGIFImage", "BM_Still_DGifSlurp");
    ratio("inspector / open-read-close, 10,000 files:", "BM_Inspector_10000Files",
          "BM_OpenReadClose_10000Files");
  }

private:
  std::map<std::string, double> fTimes;
};

} // namespace

int main(int argc, char **argv) {
  // The viewer control needs a display; without one it paints off screen.
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  std::printf("Build type: %s (%s)\n", PLM_BUILD_TYPE, PLM_BUILD_FLAGS);
  Animation();
  Still();
  Files();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
