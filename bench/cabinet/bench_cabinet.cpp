// Extraction with TSTCabReader and with plmtool against cabextract, and MSZIP
// compression with TSTCabWriter against gcab -c -z, on the same 500 files in the same run;
// the same extractions into a memory file system (/dev/shm), where nothing but decoding and
// file creation counts, of a cabinet made by gcab -c -z from 400 files, nine in ten of them
// incompressible; and the start of plmtool list on a cabinet of three small files against
// cabextract -l, with the peak memory of each. The data is generated in temporary folders
// at start and removed at the end.
#include "cabinet/CabSTComps.h"

#include "bench/support/BenchRuns.h"
#include "bench/support/XorShift.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
extern char **environ;

namespace {

constexpr int kFiles = 500;
constexpr size_t kFileSize = 120 * 1024;

std::string gRoot;               // the benchmark's folder
std::vector<std::string> gNames; // file names in gRoot/src
std::string gCab;                // the MSZIP cabinet that both readers extract
std::string gSmallCab;           // three small files, for the start of a listing
std::string gShm;                // the memory file system's folder ("" when there is none)
std::string gShmCab;             // gcab's cabinet there

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
  plmbench::TXorShift32 next{2463534242u};
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

// Runs a program with its output sent nowhere, as a shell would but without one; false
// when it fails. cpuMs gets the processor time it used.
bool Spawn(const std::vector<std::string> &args, double &cpuMs) {
  std::vector<char *> argv;
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int e = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (e != 0) return false;
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  auto ms = [](const timeval &t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
  cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peak resident memory of one run, in MB. The peak that wait4 reports for a child of
// this large process would include this process's memory before the child's exec, so
// the run goes through /usr/bin/time, a small process.
double PeakMb(const std::vector<std::string> &args) {
  const std::string out = gRoot + "/peak.txt";
  std::vector<std::string> timed = {"/usr/bin/time", "-q", "-f", "%M", "-o", out};
  timed.insert(timed.end(), args.begin(), args.end());
  double ignored = 0;
  if (!Spawn(timed, ignored)) return -1;
  std::ifstream in(out);
  double kb = -1;
  in >> kb;
  return kb < 0 ? -1 : kb / 1024.0;
}

const std::string gPlmtool = std::string(PLM_BIN_DIR) + "/plmtool";

// Empties the output folder and writes back what earlier runs left in the page cache, so
// that no run pays for the write-back of the one before it (which would favour whichever
// benchmark runs first).
void CleanOutput(const std::string &root = gRoot) {
  fs::remove_all(root + "/out");
  ::sync();
}

// Runs the command once an iteration after cleaning root's output folder. Its processor
// time and its peak memory are kept as counters.
void RunEach(benchmark::State &state, const std::vector<std::string> &args,
             const std::string &root = gRoot) {
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CleanOutput(root);
    state.ResumeTiming();
    double ms = 0;
    if (!Spawn(args, ms)) state.SkipWithError((args[0] + " failed").c_str());
    cpu += ms;
  }
  fs::remove_all(root + "/out");
  state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
  state.counters["peak_MB"] = PeakMb(args);
}

void WriteWithWriter(const std::string &cab) {
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(cab);
  for (const std::string &n : gNames)
    w.AddFile(gRoot + "/src/" + n, n);
  w.CloseCabinet(true);
}

void BM_TSTCabReader(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    CleanOutput();
    state.ResumeTiming();
    plm::TSTCabReader r;
    r.ExtractFiles(gCab, gRoot + "/out");
  }
}

void BM_cabextract(benchmark::State &state) {
  RunEach(state, {"cabextract", "-q", "-d", gRoot + "/out", gCab});
}

void BM_plmtool_extract(benchmark::State &state) {
  RunEach(state, {gPlmtool, "extract", gCab, gRoot + "/out"});
}

void BM_TSTCabReader_shm(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    CleanOutput(gShm);
    state.ResumeTiming();
    plm::TSTCabReader r;
    r.ExtractFiles(gShmCab, gShm + "/out");
  }
}

void BM_cabextract_shm(benchmark::State &state) {
  RunEach(state, {"cabextract", "-q", "-d", gShm + "/out", gShmCab}, gShm);
}

void BM_plmtool_extract_shm(benchmark::State &state) {
  RunEach(state, {gPlmtool, "extract", gShmCab, gShm + "/out"}, gShm);
}

void BM_plmtool_list(benchmark::State &state) { RunEach(state, {gPlmtool, "list", gSmallCab}); }

void BM_cabextract_list(benchmark::State &state) {
  RunEach(state, {"cabextract", "-q", "-l", gSmallCab});
}

void BM_TSTCabWriter(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    ::sync();
    state.ResumeTiming();
    WriteWithWriter(gRoot + "/w.cab");
  }
}

void BM_gcab(benchmark::State &state) {
  std::string cmd = "cd " + Quote(gRoot + "/src") + " && gcab -c -z " + Quote(gRoot + "/g.cab");
  for (const std::string &n : gNames)
    cmd += " " + n;
  for (auto _ : state) {
    state.PauseTiming();
    ::sync();
    state.ResumeTiming();
    if (!Sh(cmd)) state.SkipWithError("gcab failed");
  }
}

// Keeps each benchmark's best wall time for the ratios printed at the end: on a shared
// machine the fastest of several runs is the one least disturbed by other work.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.aggregate_name == "min") {
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
        const auto peak = r.counters.find("peak_MB");
        if (peak != r.counters.end()) peaks[r.run_name.function_name] = peak->second;
        const auto cpu = r.counters.find("cpu_ms");
        if (cpu != r.counters.end()) cpus[r.run_name.function_name] = cpu->second;
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, double> peaks; // MB
  std::map<std::string, double> cpus;  // ms of processor time of a spawned program, at best
};

void MakeSmallCabinet() {
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(gSmallCab);
  fs::create_directories(gRoot + "/small");
  for (const char *n : {"Flavor.htm", "content.ini", "fleur.gif"}) {
    const std::string path = gRoot + "/small/" + n;
    std::ofstream(path, std::ios::binary) << std::string(2000, n[0]);
    w.AddFile(path, n);
  }
  w.CloseCabinet(true);
}

// 400 files of 16 to 170 KB in the memory file system, nine in ten of them noise, packed
// by gcab -c -z (about 37 MB). False when there is no /dev/shm or no gcab.
bool MakeShmCabinet() {
  char tmpl[] = "/dev/shm/plmcabbench-XXXXXX";
  if (!::mkdtemp(tmpl)) return false;
  gShm = tmpl;
  fs::create_directories(gShm + "/src");
  plmbench::TXorShift32 next{88172645u};
  std::string cmd = "cd " + Quote(gShm + "/src") + " && gcab -c -z ../g.cab";
  std::string buf;
  for (int i = 0; i < 400; ++i) {
    const size_t size = 16 * 1024 + next() % (164 * 1024);
    buf.clear();
    if (i % 10 == 9) {
      static const char *words[] = {"lettre ", "papier ", "fleur ", "<td>", "</p>\r\n"};
      while (buf.size() < size)
        buf += words[next() % 5];
    } else {
      while (buf.size() < size)
        buf.push_back(char(next() >> 24));
    }
    buf.resize(size);
    char name[32];
    std::snprintf(name, sizeof name, "pic%03d.gif", i);
    std::ofstream(gShm + "/src/" + name, std::ios::binary)
        .write(buf.data(), std::streamsize(buf.size()));
    cmd += std::string(" ") + name;
  }
  gShmCab = gShm + "/g.cab";
  if (!Sh(cmd)) {
    fs::remove_all(gShm);
    gShm.clear();
    return false;
  }
  std::printf("memory file system: %d files, gcab cabinet of %.1f MB\n", 400,
              double(fs::file_size(gShmCab)) / 1e6);
  return true;
}

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
  gSmallCab = gRoot + "/small.cab";
  MakeSmallCabinet();

  // Seven repetitions (or as many as given), of iterations runs each; the best repetition
  // counts.
  const auto add = [](const char *name, void (*fn)(benchmark::State &), int iterations,
                      int repetitions = 7) {
    plmbench::ReportBest(benchmark::RegisterBenchmark(name, fn)
                             ->Unit(benchmark::kMillisecond)
                             ->UseRealTime()
                             ->Iterations(iterations)
                             ->Repetitions(repetitions));
  };
  add("BM_TSTCabReader", BM_TSTCabReader, 1);
  add("BM_cabextract", BM_cabextract, 1);
  add("BM_plmtool_extract", BM_plmtool_extract, 1);
  if (MakeShmCabinet()) {
    // Runs of a few tens of milliseconds: more of them, for one that nothing disturbed.
    add("BM_TSTCabReader_shm", BM_TSTCabReader_shm, 1, 15);
    add("BM_cabextract_shm", BM_cabextract_shm, 1, 15);
    add("BM_plmtool_extract_shm", BM_plmtool_extract_shm, 1, 15);
  }
  add("BM_TSTCabWriter", BM_TSTCabWriter, 1);
  add("BM_gcab", BM_gcab, 1);
  add("BM_plmtool_list", BM_plmtool_list, 20);
  add("BM_cabextract_list", BM_cabextract_list, 20);
  plmbench::InitializeInterleaved(argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char *a, const char *b) {
    if (!reporter.times.count(a) || !reporter.times.count(b) || reporter.times[b] <= 0) return;
    std::printf("%s %.0f ms / %s %.0f ms = %.3f\n", a, reporter.times[a], b, reporter.times[b],
                reporter.times[a] / reporter.times[b]);
  };
  ratio("BM_TSTCabReader", "BM_cabextract");
  ratio("BM_plmtool_extract", "BM_cabextract");
  // Processor time does not depend on what else the machine runs.
  auto cpuRatio = [&](const char *a, const char *b) {
    if (!reporter.cpus.count(a) || !reporter.cpus.count(b) || reporter.cpus[b] <= 0) return;
    std::printf("%s %.0f ms / %s %.0f ms of processor time = %.3f\n", a, reporter.cpus[a], b,
                reporter.cpus[b], reporter.cpus[a] / reporter.cpus[b]);
  };
  cpuRatio("BM_plmtool_extract", "BM_cabextract");
  ratio("BM_TSTCabReader_shm", "BM_cabextract_shm");
  ratio("BM_plmtool_extract_shm", "BM_cabextract_shm");
  cpuRatio("BM_plmtool_extract_shm", "BM_cabextract_shm");
  ratio("BM_TSTCabWriter", "BM_gcab");
  ratio("BM_plmtool_list", "BM_cabextract_list");
  for (const auto &[name, mb] : reporter.peaks)
    std::printf("%s: %.2f ms a run at best, %.1f MB peak\n", name.c_str(), reporter.times[name],
                mb);
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  if (!gShm.empty()) fs::remove_all(gShm);
  return 0;
}
