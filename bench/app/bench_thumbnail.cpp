// The thumbnailer as a file manager runs it: a cold `plmtool thumbnail -s 256` process per
// template, on the sample templates the build packs. Target: under 1 s per template, so a
// folder of 50 templates fills in within a minute at worst. The peer in the same run is
// `plmtool list` of the same template (the lightest verb: process start and unpacking).
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

const std::string kTool = std::string(PLM_BIN_DIR) + "/plmtool";
const std::string kSample = std::string(PLM_BIN_DIR) + "/../samples/Mer.plm";

// Runs the command line with the output thrown away; false when it fails.
bool Run(const std::string &command) {
  const int status = std::system((command + " > /dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_ThumbnailColdProcess(benchmark::State &state) {
  ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char dir[] = "/tmp/plm-bench-thumb-XXXXXX";
  const std::string out = std::string(::mkdtemp(dir)) + "/t.png";
  for (auto _ : state) {
    if (!Run(kTool + " thumbnail -s 256 '" + kSample + "' '" + out + "'")) {
      state.SkipWithError("plmtool thumbnail failed");
      break;
    }
  }
  std::remove(out.c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_ThumbnailColdProcess)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_ListColdProcess(benchmark::State &state) {
  for (auto _ : state) {
    if (!Run(kTool + " list '" + kSample + "'")) {
      state.SkipWithError("plmtool list failed");
      break;
    }
  }
}
BENCHMARK(BM_ListColdProcess)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
