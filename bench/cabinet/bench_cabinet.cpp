// Extraction with TSTCabReader against cabextract, and MSZIP compression with
// TSTCabWriter against gcab -c -z, on the same 500 files in the same run. The data is
// generated in a temporary folder at start and removed at the end.
#include "cabinet/CabSTComps.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 500;
constexpr size_t kFileSize = 120 * 1024;

std::string gRoot;               // the benchmark's folder
std::vector<std::string> gNames; // file names in gRoot/src
std::string gCab;                // the MSZIP cabinet that both readers extract

std::string Quote(const std::string &s) {
  std::string r = "'";
  for (char c : s)
    r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

bool Sh(const std::string &cmd) {
  const int st = std::system(cmd.c_str());
  return st != -1 && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// Text mixed with noise: the cabinet comes out at about 50 MB.
void MakeData() {
  fs::create_directories(gRoot + "/src");
  static const char *words[] = {"lettre ",  "papier ", "fleur ",   "couleur ", "<td>",
                                "</p>\r\n", "image ",  "bordure ", "fond ",    "texte "};
  uint32_t x = 2463534242u;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  std::string buf;
  for (int i = 0; i < kFiles; ++i) {
    buf.clear();
    while (buf.size() < kFileSize) {
      if (next() % 100 < 72) {
        for (int k = 0; k < 64; ++k)
          buf.push_back(char(next()));
      } else {
        for (int k = 0; k < 8; ++k)
          buf += words[next() % 10];
      }
    }
    buf.resize(kFileSize);
    char name[32];
    std::snprintf(name, sizeof name, "file%03d.dat", i);
    gNames.push_back(name);
    std::ofstream(gRoot + "/src/" + name, std::ios::binary)
        .write(buf.data(), std::streamsize(buf.size()));
  }
}

void WriteWithWriter(const std::string &cab) {
  plm::TSTCabWriter w(nullptr);
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(cab);
  for (const std::string &n : gNames)
    w.AddFile(gRoot + "/src/" + n, n);
  w.CloseCabinet(true);
}

void BM_TSTCabReader(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(gRoot + "/out");
    state.ResumeTiming();
    plm::TSTCabReader r(nullptr);
    r.ExtractFiles(gCab, gRoot + "/out");
  }
}

void BM_cabextract(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(gRoot + "/out");
    state.ResumeTiming();
    if (!Sh("cabextract -q -d " + Quote(gRoot + "/out") + " " + Quote(gCab)))
      state.SkipWithError("cabextract failed");
  }
}

void BM_TSTCabWriter(benchmark::State &state) {
  for (auto _ : state) {
    WriteWithWriter(gRoot + "/w.cab");
  }
}

void BM_gcab(benchmark::State &state) {
  std::string cmd = "cd " + Quote(gRoot + "/src") + " && gcab -c -z " + Quote(gRoot + "/g.cab");
  for (const std::string &n : gNames)
    cmd += " " + n;
  for (auto _ : state) {
    if (!Sh(cmd)) state.SkipWithError("gcab failed");
  }
}

// Keeps each benchmark's best wall time for the ratios printed at the end: on a shared
// machine the fastest of several runs is the one least disturbed by other work.
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
  char tmpl[] = "/var/tmp/plmcabbench-XXXXXX";
  if (!::mkdtemp(tmpl)) return 1;
  gRoot = tmpl;
  MakeData();
  gCab = gRoot + "/data.cab";
  WriteWithWriter(gCab);
  std::printf("cabinet: %d files, %.1f MB of data, %.1f MB compressed (MSZIP)\n", kFiles,
              kFiles * kFileSize / 1e6, double(fs::file_size(gCab)) / 1e6);

  for (auto *b : {benchmark::RegisterBenchmark("BM_TSTCabReader", BM_TSTCabReader),
                  benchmark::RegisterBenchmark("BM_cabextract", BM_cabextract),
                  benchmark::RegisterBenchmark("BM_TSTCabWriter", BM_TSTCabWriter),
                  benchmark::RegisterBenchmark("BM_gcab", BM_gcab)})
    b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(7)
        ->ComputeStatistics(
            "min",
            [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char *a, const char *b) {
    if (!reporter.times.count(a) || !reporter.times.count(b) || reporter.times[b] <= 0) return;
    std::printf("%s %.0f ms / %s %.0f ms = %.3f\n", a, reporter.times[a], b, reporter.times[b],
                reporter.times[a] / reporter.times[b]);
  };
  ratio("BM_TSTCabReader", "BM_cabextract");
  ratio("BM_TSTCabWriter", "BM_gcab");
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
