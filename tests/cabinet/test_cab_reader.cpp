// The reader: destinations, events, options, aborts, time stamps, attributes, sets.
#include "cabinet/CabIntf.h"
#include "cabinet/CabSTComps.h"
#include "platform/FileSys.h"
#include "platform/Launcher.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

using namespace cabtest;
using plm::ESTCabinet;
using plm::TSTCabReader;

namespace {

// Expects ExtractFiles to fail with the given library code, and returns the message.
std::string ExtractFailure(TSTCabReader &r, const std::string &cab, const std::string &dest,
                           int code) {
  try {
    r.ExtractFiles(cab, dest);
  } catch (const ESTCabinet &e) {
    EXPECT_EQ(e.ErrorCode, code) << e.what();
    EXPECT_TRUE(e.HasError);
    EXPECT_FALSE(e.IsCompressorError);
    return e.what();
  }
  ADD_FAILURE() << "no ESTCabinet";
  return {};
}

// A two-cabinet set whose second file runs from Data.cab into Data2.cab.
void BuildSpanningSet(const TempDir &dir) {
  BuildCabinet(dir / "Data.cab",
               {{"first.txt", MakeData(20000, 1, false)},
                {"span.bin", MakeData(90000, 2, false)},
                {"last.txt", MakeData(5000, 3, true)}},
               plm::cctNone, 60000);
  ASSERT_TRUE(Exists(dir / "Data2.cab"));
}

} // namespace

TEST(CabReader, ExtractsIntoFolderWithSubfoldersAndExactBytes) {
  TempDir dir;
  const std::string a = MakeData(70000, 4, true), b = MakeData(1000, 5, false);
  BuildCabinet(dir / "t.plm", {{"Flavor.htm", a}, {"sub\\pic.gif", b}, {"empty", ""}});
  TSTCabReader r;
  r.ExtractFiles(dir / "t.plm", dir / "out"); // no trailing separator
  EXPECT_EQ(r.DestDir(), dir / "out/");
  EXPECT_EQ(r.CabFileName(), dir / "t.plm");
  EXPECT_EQ(ListTree(dir / "out"),
            (std::vector<std::string>{"Flavor.htm", "empty", "sub/", "sub/pic.gif"}));
  EXPECT_EQ(ReadFile(dir / "out/Flavor.htm"), a);
  EXPECT_EQ(ReadFile(dir / "out/sub/pic.gif"), b);
  EXPECT_TRUE(r.OpenSrcNames().empty());
  EXPECT_TRUE(r.OpenDstNames().empty());
}

TEST(CabReader, RelativeCabinetPathIsExpandedAgainstCurrentFolder) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "hello"}});
  const std::string old = plm::GetCurrentDir();
  ASSERT_TRUE(plm::SetCurrentDir(dir.path()));
  TSTCabReader r;
  r.ExtractFiles("t.cab", "out");
  plm::SetCurrentDir(old);
  EXPECT_EQ(r.CabFileName(), dir / "t.cab");
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "hello");
}

TEST(CabReader, LeadingSeparatorOfStoredNameGivesOneSeparator) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"\\lead.txt", "x"}});
  TSTCabReader r;
  std::string seen;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t, std::string &dst, bool &) {
    EXPECT_EQ(src, "\\lead.txt");
    seen = dst;
  };
  r.ExtractFiles(dir / "t.cab", dir / "out/");
  EXPECT_EQ(seen, dir / "out/lead.txt");
  EXPECT_EQ(ReadFile(dir / "out/lead.txt"), "x");
}

TEST(CabReader, StoredTimeAndAttributesAreApplied) {
  TempDir dir;
  const std::string src = dir / "src.txt";
  WriteFile(src, "stamped");
  const std::time_t when = 1700000000; // an even second
  ASSERT_TRUE(plm::SetFileModTime(src, when));
  ::chmod(src.c_str(), 0444); // read-only
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "t.cab");
  w.AddFile(src, "ro.txt");
  w.CloseCabinet(true);

  TSTCabReader r;
  uint16_t date = 0, time = 0, attrs = 0;
  r.OnCloseFile = [&](TSTCabReader *, const std::string &, uint16_t d, uint16_t t, uint16_t a,
                      uint16_t, bool &, const std::string &dst, bool &) {
    date = d;
    time = t;
    attrs = a;
    // Stamped before the event is raised.
    EXPECT_EQ(plm::FileModTime(dst), when);
  };
  r.ExtractFiles(dir / "t.cab", dir / "out");
  uint16_t wantDate, wantTime;
  ASSERT_TRUE(plm::TimeToDosDateTime(when, wantDate, wantTime));
  EXPECT_EQ(date, wantDate);
  EXPECT_EQ(time, wantTime);
  EXPECT_EQ(attrs & 0x21, 0x21); // read-only and archive
  EXPECT_EQ(plm::FileModTime(dir / "out/ro.txt"), when);
  EXPECT_TRUE(plm::FileGetAttr(dir / "out/ro.txt") & plm::FILE_ATTRIBUTE_READONLY);
}

TEST(CabReader, ExistingLongerFileIsTruncated) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "short"}});
  WriteFile(dir / "out/a.txt", std::string(10000, 'Z'));
  TSTCabReader r;
  r.ExtractFiles(dir / "t.cab", dir / "out");
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "short");
}

TEST(CabReader, ReadOnlyDestinationIsReplacedOrKept) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"ro.txt", "new content"}, {"other.txt", "other"}});
  const std::string target = dir / "out/ro.txt";
  {
    WriteFile(target, "old");
    ::chmod(target.c_str(), 0444);
    TSTCabReader r;
    r.ExtractFiles(dir / "t.cab", dir / "out");
    EXPECT_EQ(ReadFile(target), "new content");
    // It ends with the stored attributes, which are not read-only.
    EXPECT_FALSE(plm::FileGetAttr(target) & plm::FILE_ATTRIBUTE_READONLY);
  }
  {
    WriteFile(target, "old");
    ::chmod(target.c_str(), 0444);
    ::unlink((dir / "out/other.txt").c_str());
    TSTCabReader r;
    r.Options.insert(plm::croDontOverwriteReadOnlyFiles);
    bool closed = false;
    r.OnCloseFile = [&](TSTCabReader *, const std::string &src, uint16_t, uint16_t, uint16_t,
                        uint16_t, bool &, const std::string &, bool &) {
      EXPECT_NE(src, "ro.txt");
      closed = true;
    };
    r.ExtractFiles(dir / "t.cab", dir / "out");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(ReadFile(dir / "out/other.txt"), "other");
    EXPECT_TRUE(closed);
  }
}

TEST(CabReader, CopyFileHandlerSkipsOrRedirects) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"skip.txt", "s"}, {"move.txt", "m"}, {"keep.txt", "k"}});
  TSTCabReader r;
  std::vector<std::string> closedDst;
  r.OnCopyFile = [&](TSTCabReader *rd, const std::string &src, int32_t size, uint16_t, uint16_t,
                     uint16_t, uint16_t folder, std::string &dst, bool &) {
    EXPECT_EQ(size, 1);
    EXPECT_EQ(folder, 0);
    EXPECT_TRUE(rd->OpenSrcNames().empty()); // files are closed before the next opens
    if (src == "skip.txt") dst.clear();
    if (src == "move.txt") dst = dir / "elsewhere/moved.txt";
  };
  r.OnCloseFile = [&](TSTCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t,
                      bool &, const std::string &dst, bool &) { closedDst.push_back(dst); };
  r.ExtractFiles(dir / "t.cab", dir / "out");
  EXPECT_EQ(ListTree(dir / "out"), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(ReadFile(dir / "elsewhere/moved.txt"), "m");
  EXPECT_EQ(closedDst,
            (std::vector<std::string>{dir / "elsewhere/moved.txt", dir / "out/keep.txt"}));
}

TEST(CabReader, CabinetInfoReportsEachCabinetOfTheSet) {
  TempDir dir;
  BuildSpanningSet(dir);
  TSTCabReader r;
  std::vector<std::tuple<std::string, std::string, std::string, uint16_t>> infos;
  r.OnCabinetInfo = [&](TSTCabReader *, const std::string &next, const std::string &disk,
                        const std::string &path, uint16_t, uint16_t no,
                        bool &) { infos.emplace_back(next, disk, path, no); };
  std::vector<std::string> copied, partial;
  std::string partialDst;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t, std::string &, bool &) { copied.push_back(src); };
  r.OnCopyPartialFile = [&](TSTCabReader *, const std::string &src, const std::string &startCab,
                            const std::string &, const std::string &dst, bool &) {
    partial.push_back(src);
    EXPECT_EQ(startCab, "Data.cab");
    partialDst = dst;
  };
  r.ExtractFiles(dir / "Data.cab", dir / "out");
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(std::get<0>(infos[0]), "Data2.cab");
  EXPECT_EQ(std::get<1>(infos[0]), "Disk2");
  EXPECT_EQ(std::get<2>(infos[0]), dir.path() + "/");
  EXPECT_EQ(std::get<3>(infos[0]), 0);
  EXPECT_EQ(std::get<0>(infos[1]), "");
  EXPECT_EQ(std::get<3>(infos[1]), 1);
  EXPECT_EQ(copied, (std::vector<std::string>{"first.txt", "span.bin", "last.txt"}));
  EXPECT_EQ(partial, std::vector<std::string>{"span.bin"});
  EXPECT_EQ(partialDst, ""); // closed in the first cabinet's pass
  EXPECT_EQ(ReadFile(dir / "out/span.bin"), MakeData(90000, 2, false));
  EXPECT_EQ(ReadFile(dir / "out/last.txt"), MakeData(5000, 3, true));
  EXPECT_TRUE(r.NextCabName().empty());
}

TEST(CabReader, AbortFromEveryEventGivesFdiAborted) {
  TempDir dir;
  BuildSpanningSet(dir);
  auto check = [&](const char *what, auto install) {
    SCOPED_TRACE(what);
    TSTCabReader r;
    install(r);
    EXPECT_EQ(ExtractFailure(r, dir / "Data.cab", dir / "out", 11), "FDI aborted [0x000B]");
  };
  check("cabinet info", [](TSTCabReader &r) {
    r.OnCabinetInfo = [](TSTCabReader *, const std::string &, const std::string &,
                         const std::string &, uint16_t, uint16_t, bool &abort) { abort = true; };
  });
  check("copy file", [](TSTCabReader &r) {
    r.OnCopyFile = [](TSTCabReader *, const std::string &, int32_t, uint16_t, uint16_t, uint16_t,
                      uint16_t, std::string &, bool &abort) { abort = true; };
  });
  check("close file", [](TSTCabReader &r) {
    r.OnCloseFile = [](TSTCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t,
                       bool &, const std::string &, bool &abort) { abort = true; };
  });
  check("partial file", [](TSTCabReader &r) {
    r.OnCopyPartialFile = [](TSTCabReader *, const std::string &, const std::string &,
                             const std::string &, const std::string &,
                             bool &abort) { abort = true; };
  });
  check("next cabinet", [](TSTCabReader &r) {
    r.OnNextCabinet = [](TSTCabReader *, const std::string &, const std::string &, std::string &,
                         plm::TFDIERROR, bool &abort) { abort = true; };
  });
}

TEST(CabReader, FailedFileCallbackAddsTheOsErrorToTheMessage) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "a"}});
  WriteFile(dir / "plain", "a file, not a folder");
  TSTCabReader r;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t, std::string &dst, bool &) { dst = dir / "plain/a.txt"; };
  const std::string m = ExtractFailure(r, dir / "t.cab", dir / "out", 11);
  EXPECT_EQ(m, "FDI aborted [0x000B].\r\nNot a directory [0x0014].");
}

TEST(CabReader, MissingAndForeignFilesGiveTheirCodes) {
  TempDir dir;
  TSTCabReader r;
  EXPECT_EQ(ExtractFailure(r, dir / "none.cab", dir / "out", 1),
            "Cabinet not found [0x0001].\r\nNo such file or directory [0x0002].");
  WriteFile(dir / "text.cab", "this is not a cabinet at all");
  EXPECT_EQ(ExtractFailure(r, dir / "text.cab", dir / "out", 2),
            "Cabinet file does not have the correct format [0x0002]");
  WriteFile(dir / "v2.cab", RawCabinet({{"a", "a"}}, 0, 2));
  ExtractFailure(r, dir / "v2.cab", dir / "out", 3);
  EXPECT_FALSE(Exists(dir / "out"));
}

TEST(CabReader, EmptyDestinationIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "a"}});
  const std::string old = plm::GetCurrentDir();
  ASSERT_TRUE(plm::SetCurrentDir(dir.path()));
  TSTCabReader r;
  bool raised = false;
  try {
    r.ExtractFiles(dir / "t.cab", "");
  } catch (const ESTCabinet &e) {
    raised = true;
    EXPECT_EQ(e.ErrorCode, 8);
  }
  plm::SetCurrentDir(old);
  EXPECT_TRUE(raised);
  EXPECT_FALSE(Exists(dir / "a.txt"));
  EXPECT_FALSE(Exists("/a.txt"));
}

TEST(CabReader, MissingNextCabinetEndsTheSetWithoutError) {
  TempDir dir;
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  WriteFile(dir / "a", "first");
  WriteFile(dir / "b", "second");
  w.StartCabinet(dir / "Set.cab");
  w.AddFile(dir / "a", "a.txt");
  w.FlushCabinet(true); // nothing spans: the next cabinet holds whole files only
  w.AddFile(dir / "b", "b.txt");
  w.CloseCabinet(true);
  ASSERT_TRUE(Exists(dir / "Set2.cab"));
  ::unlink((dir / "Set2.cab").c_str());
  TSTCabReader r;
  r.ExtractFiles(dir / "Set.cab", dir / "out");
  EXPECT_EQ(ListTree(dir / "out"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(r.NextCabName(), dir / "Set2.cab");
}

TEST(CabReader, MissingContinuationAbortsOrIsFoundWhereTheHandlerSays) {
  TempDir dir;
  BuildSpanningSet(dir);
  std::filesystem::create_directories(dir / "moved");
  std::filesystem::rename(dir / "Data2.cab", dir / "moved/Data2.cab");
  {
    TSTCabReader r;
    ExtractFailure(r, dir / "Data.cab", dir / "out1", 11);
    EXPECT_EQ(ReadFile(dir / "out1/first.txt"), MakeData(20000, 1, false));
  }
  {
    TSTCabReader r;
    std::vector<int> errors;
    r.OnNextCabinet = [&](TSTCabReader *, const std::string &cab, const std::string &disk,
                          std::string &path, plm::TFDIERROR e, bool &) {
      EXPECT_EQ(cab, "Data2.cab");
      EXPECT_EQ(disk, "Disk2");
      errors.push_back(e);
      path = dir / "moved"; // the separator is added by the reader
    };
    r.ExtractFiles(dir / "Data.cab", dir / "out2");
    EXPECT_EQ(errors, std::vector<int>{0});
    EXPECT_EQ(ReadFile(dir / "out2/span.bin"), MakeData(90000, 2, false));
    // The set loop looks for the next cabinet beside the first one only.
    EXPECT_FALSE(Exists(dir / "out2/last.txt"));
  }
  {
    TSTCabReader r;
    int calls = 0;
    r.OnNextCabinet = [&](TSTCabReader *, const std::string &, const std::string &, std::string &,
                          plm::TFDIERROR, bool &) { ++calls; }; // never finds it
    ExtractFailure(r, dir / "Data.cab", dir / "out3", 1);
    EXPECT_LE(calls, 3); // no endless asking
  }
}

TEST(CabReader, NextCabinetFolderOf256CharactersAbortsCleanly) {
  TempDir dir;
  BuildSpanningSet(dir);
  TSTCabReader r;
  r.OnNextCabinet = [&](TSTCabReader *, const std::string &, const std::string &, std::string &path,
                        plm::TFDIERROR, bool &) {
    path = "/" + std::string(254, 'p'); // 256 with the separator added
  };
  ExtractFailure(r, dir / "Data.cab", dir / "out", 11);
  TSTCabReader r2;
  r2.OnNextCabinet = [&](TSTCabReader *, const std::string &, const std::string &,
                         std::string &path, plm::TFDIERROR, bool &) {
    path = dir.path() + "/" + std::string(255 - dir.path().size() - 2, 'q'); // 255 in all
  };
  // Fits the buffer, but there is no cabinet there: the library gives up once the
  // handler offers the same place again.
  ExtractFailure(r2, dir / "Data.cab", dir / "out2", 1);
}

TEST(CabReader, ChainLeadingBackToAnExtractedCabinetEnds) {
  TempDir dir;
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.CabinetNameTemplate = "X*.cab";
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  WriteFile(dir / "c", "C");
  w.StartCabinet(dir / "X1.cab");
  w.AddFile(dir / "a", "a.txt");
  w.FlushCabinet(true);
  w.AddFile(dir / "b", "b.txt");
  w.FlushCabinet(true);
  w.AddFile(dir / "c", "c.txt");
  w.CloseCabinet(true);
  // X2.cab names X3.cab as its successor: make it name X1.cab instead.
  std::string x2 = ReadFile(dir / "X2.cab");
  const size_t at = x2.find("X3.cab");
  ASSERT_NE(at, std::string::npos);
  x2[at + 1] = '1';
  WriteFile(dir / "X2.cab", x2);
  TSTCabReader r;
  int infos = 0;
  r.OnCabinetInfo = [&](TSTCabReader *, const std::string &, const std::string &,
                        const std::string &, uint16_t, uint16_t, bool &) { ++infos; };
  r.ExtractFiles(dir / "X1.cab", dir / "out");
  EXPECT_EQ(infos, 2);
  EXPECT_EQ(ListTree(dir / "out"), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(CabReader, ExecuteOnExtractHandsFlaggedFilesToTheShell) {
  TempDir dir;
  WriteFile(dir / "run", "#!/bin/sh\n");
  WriteFile(dir / "doc", "doc");
  plm::TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(dir / "t.cab");
  w.AddFile(dir / "run", "run.sh", true);
  w.AddFile(dir / "doc", "doc.txt");
  w.CloseCabinet(true);
  std::vector<std::string> launched;
  const plm::LaunchFunction old = plm::SetLauncher([&](const std::string &p) {
    launched.push_back(p);
    return true;
  });
  std::vector<bool> flags;
  {
    TSTCabReader r;
    r.OnCloseFile = [&](TSTCabReader *, const std::string &, uint16_t, uint16_t, uint16_t, uint16_t,
                        bool &exec, const std::string &, bool &) { flags.push_back(exec); };
    r.ExtractFiles(dir / "t.cab", dir / "out");
    EXPECT_TRUE(launched.empty());
    r.Options.insert(plm::croExecuteOnExtract);
    r.ExtractFiles(dir / "t.cab", dir / "out");
  }
  plm::SetLauncher(old);
  EXPECT_EQ(flags, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(launched, std::vector<std::string>{dir / "out/run.sh"});
}

TEST(CabReader, UnrecognizedNotificationsReachTheirEvent) {
  TSTCabReader r;
  FDINOTIFICATION n{};
  n.pv = &r;
  EXPECT_EQ(TSTCabReader::FdiNotify(fdintENUMERATE, &n), 0);
  r.OnUnrecognizedNotify = [](TSTCabReader *, plm::TFDINOTIFICATIONTYPE type,
                              plm::TFDINOTIFICATION &rec, int32_t &result) {
    EXPECT_EQ(type, fdintENUMERATE);
    EXPECT_EQ(result, 0);
    rec.cb = 42;
    result = 7;
  };
  EXPECT_EQ(TSTCabReader::FdiNotify(fdintENUMERATE, &n), 7);
  EXPECT_EQ(n.cb, 42);
}

TEST(CabReader, ReadersShareTheLibraryAndKeepTheirContext) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "a"}});
  TSTCabReader keep;
  {
    TSTCabReader first;
    EXPECT_EQ(first.Context(), nullptr);
    first.ExtractFiles(dir / "t.cab", dir / "o1");
    const HFDI ctx = first.Context();
    EXPECT_NE(ctx, nullptr);
    first.ExtractFiles(dir / "t.cab", dir / "o1");
    EXPECT_EQ(first.Context(), ctx);
  }
  EXPECT_TRUE(plm::CabIntf::LibraryLoaded());
  keep.ExtractFiles(dir / "t.cab", dir / "o2");
  EXPECT_EQ(ReadFile(dir / "o2/a.txt"), "a");
}

TEST(CabReader, ReaderDestroyedAfterAnAbortLeavesNoDescriptorOpen) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
  const auto openDescriptors = [] {
    size_t n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
      ++n;
    return n;
  };
  plm::CabIntf::LoadCabinetLibrary();
  const size_t before = openDescriptors();
  {
    auto r = std::make_unique<TSTCabReader>();
    r->OnCopyFile = [](TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t,
                       uint16_t, uint16_t, std::string &, bool &abort) { abort = src == "b.txt"; };
    ExtractFailure(*r, dir / "t.cab", dir / "out", 11);
    EXPECT_NE(r->Context(), nullptr);
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(CabReader, ClosedStandardInputDoesNotMakeAFileLookSkipped) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"a.txt", "first"}, {"b.txt", "second"}});
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ::close(0); // the next file opened would otherwise get handle 0, "skip this file"
  TSTCabReader r;
  r.ExtractFiles(dir / "t.cab", dir / "out");
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_EQ(ReadFile(dir / "out/a.txt"), "first");
  EXPECT_EQ(ReadFile(dir / "out/b.txt"), "second");
}

TEST(CabReader, NamesWithoutTheUtf8FlagAreWindows1252) {
  TempDir dir;
  WriteFile(dir / "t.cab",
            RawCabinet({{"caf\xE9\\\x80.txt", "x"}, {"\xC3\xA9t\xC3\xA9", "y", 0, 0xA0}}));
  TSTCabReader r;
  std::vector<std::string> src;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &name, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t, std::string &, bool &) { src.push_back(name); };
  r.ExtractFiles(dir / "t.cab", dir / "out");
  EXPECT_EQ(src, (std::vector<std::string>{"caf\xE9\\\x80.txt", "\xC3\xA9t\xC3\xA9"}));
  EXPECT_EQ(ReadFile(dir / "out/café/€.txt"), "x");
  EXPECT_EQ(ReadFile(dir / "out/été"), "y");
}

namespace {

// A cabinet with one LZX folder (window 2^21) holding one uncompressed LZX block.
std::string LzxCabinet(const std::string &name, const std::string &data) {
  using namespace plmcab;
  const uint32_t len = uint32_t(data.size()); // one frame: at most 32768 bytes
  const uint32_t i = len >> 8, j = len & 0xFF;
  std::string stream;
  AddU16(stream, uint16_t((3u << 12) | (i >> 4))); // no E8 translation, block type 3
  AddU16(stream, uint16_t(((i & 0xF) << 12) | (j << 4)));
  for (int r = 0; r < 3; ++r)
    AddU32(stream, 1); // R0, R1, R2
  stream += data;
  if (len & 1) stream += '\0';
  std::string files;
  AddU32(files, len);
  AddU32(files, 0);
  AddU16(files, 0);
  AddU16(files, 0x5A21);
  AddU16(files, 0x6000);
  AddU16(files, 0x20);
  files += name + '\0';
  const uint32_t coffFiles = kHeaderSize + kFolderSize;
  const uint32_t dataStart = coffFiles + uint32_t(files.size());
  std::string h = "MSCF";
  AddU32(h, 0);
  AddU32(h, dataStart + kDataSize + uint32_t(stream.size()));
  AddU32(h, 0);
  AddU32(h, coffFiles);
  AddU32(h, 0);
  AddU8(h, 3);
  AddU8(h, 1);
  AddU16(h, 1);
  AddU16(h, 1);
  AddU16(h, 0);
  AddU16(h, 0);
  AddU16(h, 0);
  AddU32(h, dataStart);
  AddU16(h, 1);
  AddU16(h, 0x1503);
  std::string block;
  AddU32(block, BlockChecksum(reinterpret_cast<const uint8_t *>(stream.data()),
                              uint16_t(stream.size()), uint16_t(len)));
  AddU16(block, uint16_t(stream.size()));
  AddU16(block, uint16_t(len));
  return h + files + block + stream;
}

} // namespace

TEST(CabReader, DecodesLzxFolders) {
  TempDir dir;
  const std::string data = MakeData(1001, 17, true);
  WriteFile(dir / "lzx.cab", LzxCabinet("lzx.txt", data));
  TSTCabReader r;
  r.ExtractFiles(dir / "lzx.cab", dir / "out");
  EXPECT_EQ(ReadFile(dir / "out/lzx.txt"), data);
}
