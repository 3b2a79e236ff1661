// Exporting a template, as the user runs it from the command line: `plmtool export` to a
// message template and to a self-contained page, against `plmtool preview` of the same
// template in the same run (unpacking and rewriting it for the viewer). Target: each
// export at most twice the preview.
//
// The template is bench_app's: about 300 KB, 20 pictures (JPEG, PNG and GIF), all used.
//
// Then a collection: 1,000 copies of the build's good samples in 10 subfolders, exported in
// one `plmtool export --recursive` run to messages, to a mailbox and to pages (every
// thumbnail already in the cache), against a loop that merely unpacks each of them with
// `cabextract`, one process a file. Target: the messages at most 1.0 x the loop. The peak
// memory of a run of 100 and of 1,000 templates is printed (it must not grow with the
// count; target 200 MB).
#include "bench/support/BenchRuns.h"
#include "bench/support/TwentyPictures.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(PLM_BIN_DIR) + "/plmtool";
std::string gRoot;
std::string gTemplate;
std::string gTree; // the collection
constexpr int kCollection = 1000, kFolders = 10;

void MakeCollection(const std::string &root, int count) {
  const std::string samples = std::string(PLM_BIN_DIR) + "/../samples/";
  const char *good[] = {"Anniversaire.plm", "Mer.plm", "Noel.plm", "Printemps.plm"};
  for (int i = 0; i < count; ++i) {
    const std::string folder = root + "/dossier" + std::to_string(i % kFolders);
    fs::create_directories(folder);
    fs::copy_file(samples + good[i % 4], folder + "/m" + std::to_string(i) + "-" + good[i % 4]);
  }
}

void MakeTemplate() {
  gTemplate = gRoot + "/Vingt.plm";
  plmbench::WriteTwentyPictureTemplate(gRoot + "/stage", {gTemplate});
}

bool Run(const std::string &command) {
  const int status = std::system((command + " > /dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void RunEach(benchmark::State &state, const std::string &command, const std::string &out) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    state.ResumeTiming();
    if (!Run(command)) {
      state.SkipWithError(("failed: " + command).c_str());
      break;
    }
  }
  fs::remove_all(out);
}

void BM_plmtool_export_eml(benchmark::State &state) {
  const std::string out = gRoot + "/out.eml";
  RunEach(state, kTool + " export '" + gTemplate + "' '" + out + "'", out);
}

void BM_plmtool_export_html(benchmark::State &state) {
  const std::string out = gRoot + "/out.html";
  RunEach(state, kTool + " export '" + gTemplate + "' '" + out + "'", out);
}

void BM_plmtool_preview(benchmark::State &state) {
  const std::string out = gRoot + "/preview";
  RunEach(state, kTool + " preview '" + gTemplate + "' '" + out + "'", out);
}

void BM_batch_export_eml(benchmark::State &state) {
  const std::string out = gRoot + "/batch";
  RunEach(state, kTool + " export --recursive '" + gTree + "' '" + out + "'", out);
}

void BM_batch_export_mbox(benchmark::State &state) {
  const std::string out = gRoot + "/batch.mbox";
  RunEach(state, kTool + " export --mbox --recursive '" + gTree + "' '" + out + "'", out);
}

void BM_batch_export_html(benchmark::State &state) {
  const std::string out = gRoot + "/batch";
  RunEach(state, kTool + " export --html --recursive '" + gTree + "' '" + out + "'", out);
}

// The peer: every template unpacked by cabextract, one process after the other.
void BM_cabextract_loop(benchmark::State &state) {
  const std::string out = gRoot + "/unpacked";
  RunEach(state,
          "i=0; find '" + gTree + "' -name '*.plm' | while read -r f; do i=$((i+1)); "
          "cabextract -q -d '" + out + "'/$i \"$f\" || exit 1; done",
          out);
}

// Runs the command and gives the largest resident size, in MB, of its processes (the
// shell, plmtool and the program it hands the verb to), each waited for in turn.
double PeakMb(const std::string &command) {
  const std::string quiet = command + " > /dev/null 2>&1";
  const char *argv[] = {"/bin/sh", "-c", quiet.c_str(), nullptr};
  pid_t pid = 0;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
    return -1;
  int status = 0;
  rusage u{};
  if (::wait4(pid, &status, 0, &u) != pid) return -1;
  return double(u.ru_maxrss) / 1024;
}

// The best repetition of each benchmark: on a shared machine, the least disturbed.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.aggregate_name == "min") times[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  QGuiApplication app(argc, argv); // the sample pictures are painted
  char tmpl[] = "/tmp/plm-bench-export-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  gRoot = tmpl;
  MakeTemplate();
  std::printf("template: %.0f KB\n", double(fs::file_size(gTemplate)) / 1024);
  gTree = gRoot + "/collection";
  MakeCollection(gTree, kCollection);
  // Peak memory of a run of 100 and of 1,000 templates.
  const std::string small = gRoot + "/small";
  MakeCollection(small, kCollection / 10);
  std::printf("peak memory, to .eml: %d templates %.0f MB, %d templates %.0f MB; to .mbox, %d "
              "templates %.0f MB\n",
              kCollection / 10,
              PeakMb(kTool + " export --recursive '" + small + "' '" + gRoot + "/peak-small'"),
              kCollection,
              PeakMb(kTool + " export --recursive '" + gTree + "' '" + gRoot + "/peak-large'"),
              kCollection,
              PeakMb(kTool + " export --mbox --recursive '" + gTree + "' '" + gRoot + "/peak.mbox'"));
  fs::remove_all(gRoot + "/peak-small");
  fs::remove_all(gRoot + "/peak-large");
  fs::remove_all(gRoot + "/peak.mbox");
  // The thumbnails of the index page come from a cache of the benchmark's own, filled
  // once, untimed.
  ::setenv("XDG_CACHE_HOME", (gRoot + "/cache").c_str(), 1);
  if (!Run(kTool + " thumbnails --recursive '" + gTree + "'")) std::printf("thumbnails failed\n");
  fs::remove_all(small);

  const auto add = [](const char *name, void (*fn)(benchmark::State &)) {
    plmbench::ReportBest(benchmark::RegisterBenchmark(name, fn)
                             ->Unit(benchmark::kMillisecond)
                             ->UseRealTime()
                             ->Iterations(5)
                             ->Repetitions(5));
  };
  add("BM_plmtool_export_eml", BM_plmtool_export_eml);
  add("BM_plmtool_export_html", BM_plmtool_export_html);
  add("BM_plmtool_preview", BM_plmtool_preview);
  const auto addBatch = [](const char *name, void (*fn)(benchmark::State &)) {
    plmbench::ReportBest(benchmark::RegisterBenchmark(name, fn)
                             ->Unit(benchmark::kMillisecond)
                             ->UseRealTime()
                             ->Iterations(1)
                             ->Repetitions(3));
  };
  addBatch("BM_batch_export_eml", BM_batch_export_eml);
  addBatch("BM_batch_export_mbox", BM_batch_export_mbox);
  addBatch("BM_batch_export_html", BM_batch_export_html);
  addBatch("BM_cabextract_loop", BM_cabextract_loop);
  plmbench::InitializeInterleaved(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char *a : {"BM_plmtool_export_eml", "BM_plmtool_export_html"}) {
    const char *b = "BM_plmtool_preview";
    if (reporter.times.count(a) && reporter.times[b] > 0)
      std::printf("%s %.0f ms / %s %.0f ms = %.3f\n", a, reporter.times[a], b, reporter.times[b],
                  reporter.times[a] / reporter.times[b]);
  }
  for (const char *a : {"BM_batch_export_eml", "BM_batch_export_mbox", "BM_batch_export_html"}) {
    const char *b = "BM_cabextract_loop";
    if (reporter.times.count(a) && reporter.times[b] > 0)
      std::printf("%s %.0f ms / %s %.0f ms = %.3f\n", a, reporter.times[a], b, reporter.times[b],
                  reporter.times[a] / reporter.times[b]);
  }
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
