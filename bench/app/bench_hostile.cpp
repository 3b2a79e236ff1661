// Hostile templates through the preview step (no window): how long a bomb takes to be
// refused and how much memory the process needs meanwhile, against an ordinary template
// in the same run; and the memory of reading and rewriting a page of the largest size
// allowed. Targets: a bomb refused in under 2 s with under 200 MB; a 16 MB page in about
// three times its size.
#include "preview/TemplatePreview.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/TempDir.h"
#include "samples/HostileCabinets.h"
#include "samples/SampleArt.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

constexpr uint64_t kMB = 1ull << 20;
std::string gRoot;

// Resident memory of the process in kB: now, and the peak since the last reset.
long StatusKb(const char *field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}

// The peak resident memory above the current one, over what f does (the kernel's peak
// is reset first).
template <class F> double PeakMegabytes(F &&f) {
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long before = StatusKb("VmRSS");
  f();
  return double(StatusKb("VmHWM") - before) / 1024.0;
}

std::string Put(const std::string &name, const std::string &bytes) {
  const std::string path = gRoot + "/" + name;
  plm::WriteFileBytes(path, bytes);
  return path;
}

// One preview step, as the viewer runs it; true when the template was refused.
bool PreviewStep(const std::string &tpl) {
  const std::string folder = gRoot + "/~plmlook";
  plm::DeleteEntryNoFollow(folder);
  plm::TTemplatePreview p(folder);
  try {
    p.Extract(tpl);
    benchmark::DoNotOptimize(p.ReadFields());
    p.LoadPage();
    benchmark::DoNotOptimize(p.FontName());
    p.RewritePage();
    benchmark::DoNotOptimize(p.Pictures());
    p.SavePage();
    return false;
  } catch (const plm::ETemplateTooLarge &) {
    return true;
  }
}

void RunTemplate(benchmark::State &state, const std::string &tpl, bool refused) {
  double peak = 0;
  for (auto _ : state) {
    bool r = false;
    peak = std::max(peak, PeakMegabytes([&] { r = PreviewStep(tpl); }));
    if (r != refused) state.SkipWithError("the template was not treated as expected");
  }
  state.counters["peak_MB"] = peak;
  std::FILE *f = std::fopen(tpl.c_str(), "rb");
  if (f) {
    std::fseek(f, 0, SEEK_END);
    state.counters["archive_KB"] = double(std::ftell(f)) / 1024.0;
    std::fclose(f);
  }
}

std::string gOrdinary, gPageBomb, gPictureBomb, gAtTheLimit;

void MakeTemplates() {
  const std::string page = "<HTML><BODY><TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: "
                           "Arial\">x</TD></TR></TABLE><IMG src=\"a.jpg\"></BODY></HTML>";
  std::vector<std::pair<std::string, std::string>> files{
      {Put("src-page", page), "Flavor.htm"}};
  for (int i = 0; i < 5; ++i)
    files.push_back({Put("src-" + std::to_string(i),
                         plm::samples::EncodePicture(
                             plm::samples::PaintPicture("photo", 400, 300, unsigned(i)), "jpeg")),
                     "p" + std::to_string(i) + ".jpg"});
  gOrdinary = gRoot + "/ordinary.plm";
  plm::samples::PackTemplate(gOrdinary, files);
  // 1 GiB of page, 1.5 GB of picture, and 250 MB written before 10 MB more tip it over.
  gPageBomb = Put("page-bomb.plm", plm::samples::ZeroBombCabinet({{"Flavor.htm", "", 1024 * kMB}}));
  gPictureBomb = Put("picture-bomb.plm", plm::samples::ZeroBombCabinet(
                                             {{"Flavor.htm", page}, {"huge.bmp", "", 1536 * kMB}}));
  gAtTheLimit = Put("at-the-limit.plm",
                    plm::samples::ZeroBombCabinet({{"Flavor.htm", page},
                                                   {"big.bmp", "", 250 * kMB},
                                                   {"tip.bmp", "", 10 * kMB}}));
}

void BM_OrdinaryTemplate(benchmark::State &s) { RunTemplate(s, gOrdinary, false); }
void BM_PageBomb1GiB(benchmark::State &s) { RunTemplate(s, gPageBomb, true); }
void BM_PictureBomb1500MB(benchmark::State &s) { RunTemplate(s, gPictureBomb, true); }
void BM_BombRefusedAtTheLimit(benchmark::State &s) { RunTemplate(s, gAtTheLimit, true); }
BENCHMARK(BM_OrdinaryTemplate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageBomb1GiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PictureBomb1500MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BombRefusedAtTheLimit)->Unit(benchmark::kMillisecond)->Iterations(3);

// Reading, checking, rewriting and saving a page of the largest size allowed; the peak
// memory as a multiple of the page's size (range 0: lines of text, 1: line feeds only).
void BM_LargestPage(benchmark::State &state) {
  const std::string folder = gRoot + "/page", original = gRoot + "/original.htm";
  plm::ForceDirectories(folder);
  const size_t size = plm::kMaxPageBytes;
  {
    std::string bytes;
    if (state.range(0) == 0) {
      while (bytes.size() + 60 < size)
        bytes += "<P style=\"FONT-FAMILY: Arial\">Texte de la lettre</P>\r\n";
      bytes.resize(size, ' ');
    } else {
      bytes.assign(size, '\n');
    }
    plm::WriteFileBytes(original, bytes);
  }
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    plm::CopyFileBytes(original, folder + "/Flavor.htm", false);
    state.ResumeTiming();
    peak = std::max(peak, PeakMegabytes([&] {
                      plm::TTemplatePreview p(folder);
                      p.LoadPage();
                      benchmark::DoNotOptimize(p.FontName());
                      p.RewritePage();
                      p.SavePage();
                    }));
  }
  state.counters["peak_MB"] = peak;
  state.counters["peak_per_page_size"] = peak * double(kMB) / double(size);
}
BENCHMARK(BM_LargestPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv) {
  // The pictures of the ordinary template are painted with Qt.
  static int qargc = 3;
  static char a0[] = "bench_hostile", a1[] = "-platform", a2[] = "offscreen";
  static char *qargv[] = {a0, a1, a2, nullptr};
  QGuiApplication app(qargc, qargv);
  char tmpl[] = "/tmp/plm-bench-hostile-XXXXXX";
  gRoot = ::mkdtemp(tmpl);
  MakeTemplates();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  plm::DeleteEntryNoFollow(gRoot);
  return 0;
}
