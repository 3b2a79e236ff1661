// Exporting a template, as the user runs it from the command line: `plmtool export` to a
// message template and to a self-contained page, against `plmtool preview` of the same
// template in the same run (unpacking and rewriting it for the viewer). Target: each
// export at most twice the preview.
//
// The template is bench_app's: about 300 KB, 20 pictures (JPEG, PNG and GIF), all used.
#include "bench/support/BenchRuns.h"
#include "bench/support/TwentyPictures.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

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
  plmbench::InitializeInterleaved(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char *a : {"BM_plmtool_export_eml", "BM_plmtool_export_html"}) {
    const char *b = "BM_plmtool_preview";
    if (reporter.times.count(a) && reporter.times[b] > 0)
      std::printf("%s %.0f ms / %s %.0f ms = %.3f\n", a, reporter.times[a], b, reporter.times[b],
                  reporter.times[a] / reporter.times[b]);
  }
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
