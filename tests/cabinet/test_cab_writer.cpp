// The writer: compression codes, naming templates, callbacks, thresholds and sets.
#include "cabinet/CabSTComps.h"
#include "platform/FileSys.h"
#include "tests/cabinet/CabTestUtil.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

using namespace cabtest;
using plm::ESTCabinet;
using plm::TSTCabReader;
using plm::TSTCabWriter;

namespace {

// Every file of a cabinet set with its content, read back with the project's reader.
std::map<std::string, std::string> ReadBack(const std::string &cab, const std::string &out) {
  TSTCabReader r;
  r.ExtractFiles(cab, out);
  std::map<std::string, std::string> m;
  for (const std::string &f : ListTree(out))
    if (f.back() != '/') m[f] = ReadFile(out + "/" + f);
  return m;
}

int ExpectWriterFailure(const std::function<void()> &f) {
  try {
    f();
  } catch (const ESTCabinet &e) {
    EXPECT_TRUE(e.IsCompressorError);
    EXPECT_TRUE(e.HasError);
    return e.ErrorCode;
  }
  ADD_FAILURE() << "no ESTCabinet";
  return -1;
}

} // namespace

TEST(CabWriter, CompressionCodes) {
  TSTCabWriter w;
  EXPECT_EQ(w.CompressionType(), plm::cctLzx);
  EXPECT_EQ(w.CompressionLzxLevel(), 21);
  EXPECT_EQ(w.CompressionCode(), 0x1503);
  w.setCompressionType(plm::cctMsZip);
  EXPECT_EQ(w.CompressionCode(), 1);
  w.setCompressionType(plm::cctNone);
  EXPECT_EQ(w.CompressionCode(), 0);
  w.setCompressionType(plm::cctLzx);
  w.setCompressionLzxLevel(15);
  EXPECT_EQ(w.CompressionCode(), 0x0F03);
  w.setCompressionLzxLevel(30); // kept within 15..21
  EXPECT_EQ(w.CompressionCode(), 0x1503);
  w.setCompressionType(static_cast<plm::TSTCabCompressionType>(9));
  EXPECT_EQ(w.CompressionCode(), 15);
}

TEST(CabWriter, PublishedDefaults) {
  TSTCabWriter w;
  EXPECT_EQ(w.CabinetSizeThreshold, 0u);
  EXPECT_EQ(w.CabinetFileCountThreshold, 0u);
  EXPECT_EQ(w.FolderSizeThreshold, 0u);
  EXPECT_EQ(w.FolderFileCountThreshold, 0u);
  EXPECT_EQ(w.ReservePerCabinetSize + w.ReservePerFolderSize + w.ReservePerDataSize, 0u);
  EXPECT_EQ(w.SetID, 0);
  EXPECT_TRUE(w.CabinetNameTemplate.empty() && w.CabinetPathTemplate.empty() &&
              w.DiskLabelTemplate.empty());
  EXPECT_EQ(w.Context(), nullptr);
}

TEST(CabWriter, NamingTemplates) {
  TempDir dir;
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "Out/Pack.cab"); // nothing is written before a flush
  EXPECT_EQ(w.MakeDiskLabel(3), "Disk3");
  EXPECT_EQ(w.MakeCabinetName(3), "Pack3.cab");
  EXPECT_EQ(w.MakeCabinetPath(3), dir / "Out/");
  w.CabinetNameTemplate = "part*of*.cab";
  EXPECT_EQ(w.MakeCabinetName(4), "part4of4.cab");
  w.CabinetPathTemplate = "/d/Set*";
  EXPECT_EQ(w.MakeCabinetPath(2), "/d/Set2/");
  w.DiskLabelTemplate = "Vol*-*";
  EXPECT_EQ(w.MakeDiskLabel(12), "Vol12-12");
  w.CloseCabinet(false);
  EXPECT_FALSE(Exists(dir / "Out"));
  w.StartCabinet(dir / "Pack");
  w.CabinetNameTemplate.clear();
  EXPECT_EQ(w.MakeCabinetName(1), "Pack1");
  EXPECT_EQ(w.MakeCabinetName(2), "Pack2");
}

TEST(CabWriter, LzxIsRefusedWithUnknownCompressionType) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  TSTCabWriter w;
  w.StartCabinet(dir / "t.cab");
  try {
    w.AddFile(dir / "a", "a");
    ADD_FAILURE();
  } catch (const ESTCabinet &e) {
    EXPECT_EQ(e.ErrorCode, 5);
    EXPECT_STREQ(e.what(), "Unknown compression type [0x0005]");
  }
  // The context is still usable with a compression the library knows.
  w.setCompressionType(plm::cctMsZip);
  w.AddFile(dir / "a", "a");
  w.CloseCabinet(true);
  EXPECT_EQ(ReadBack(dir / "t.cab", dir / "out").at("a"), "a");
}

TEST(CabWriter, MissingSourceGivesOpenFailureWithOsError) {
  TempDir dir;
  TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(dir / "t.cab");
  try {
    w.AddFile(dir / "missing", "m");
    ADD_FAILURE();
  } catch (const ESTCabinet &e) {
    EXPECT_STREQ(e.what(), "Failure opening file to be stored in cabinet [0x0001].\r\n"
                           "No such file or directory [0x0002].");
  }
}

TEST(CabWriter, CabinetThatCannotBeCreatedFailsTheFlush) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  std::filesystem::create_directories(dir / "taken.cab");
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "taken.cab"); // a folder stands where the cabinet should go
  w.AddFile(dir / "a", "a");
  EXPECT_EQ(ExpectWriterFailure([&] { w.CloseCabinet(true); }), 6);
  EXPECT_EQ(w.Context(), nullptr); // forgotten after a failed close
}

TEST(CabWriter, StatusEventsAndProgressCountdown) {
  TempDir dir;
  WriteFile(dir / "big", MakeData(20 * 32768, 7, false)); // 20 blocks
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  int fileStatus = 0, folderStatus = 0, cabinetStatus = 0;
  std::vector<int> progressAt;
  uint32_t actual = 0;
  w.OnFileStatus = [&](TSTCabWriter *, uint32_t c, uint32_t u, bool &) {
    ++fileStatus;
    EXPECT_EQ(c, 32768u);
    EXPECT_EQ(u, 32768u);
  };
  w.OnProgress = [&](TSTCabWriter *, bool &) { progressAt.push_back(fileStatus); };
  w.OnFolderStatus = [&](TSTCabWriter *, uint32_t copied, uint32_t total, bool &) {
    ++folderStatus;
    EXPECT_EQ(copied, total);
    EXPECT_EQ(total, 20u * (32768 + 8));
  };
  w.OnCabinetStatus = [&](TSTCabWriter *, uint32_t, uint32_t a, uint32_t &desired, bool &) {
    ++cabinetStatus;
    actual = a;
    EXPECT_EQ(desired, 0u);
  };
  w.StartCabinet(dir / "t.cab");
  w.AddFile(dir / "big", "big");
  w.CloseCabinet(true);
  EXPECT_EQ(fileStatus, 20);
  EXPECT_EQ(progressAt, (std::vector<int>{2, 11, 20}));
  EXPECT_EQ(folderStatus, 1);
  EXPECT_EQ(cabinetStatus, 1);
  EXPECT_EQ(int64_t(actual), plm::FileSize(dir / "t.cab"));
}

TEST(CabWriter, AbortFromAnEventFailsWithClientRequestedAbort) {
  TempDir dir;
  WriteFile(dir / "a", MakeData(100000, 8, true));
  auto run = [&](auto install, bool flush) {
    TSTCabWriter w;
    w.setCompressionType(plm::cctMsZip);
    install(w);
    return ExpectWriterFailure([&] {
      w.StartCabinet(dir / "t.cab");
      w.AddFile(dir / "a", "a");
      w.AddFile(dir / "a", "b");
      if (flush) w.FlushCabinet(false);
    });
  };
  EXPECT_EQ(run(
                [](TSTCabWriter &w) {
                  w.OnFileStatus = [](TSTCabWriter *, uint32_t, uint32_t, bool &a) { a = true; };
                },
                false),
            7);
  EXPECT_EQ(run(
                [](TSTCabWriter &w) {
                  w.OnFilePlaced = [](TSTCabWriter *, const plm::TCCAB &, const std::string &,
                                      int32_t, bool, bool &a) { a = true; };
                },
                false),
            7);
  EXPECT_EQ(run(
                [](TSTCabWriter &w) {
                  w.OnFolderStatus = [](TSTCabWriter *, uint32_t, uint32_t, bool &a) { a = true; };
                },
                true),
            7);
  EXPECT_EQ(run(
                [](TSTCabWriter &w) {
                  w.OnCabinetStatus = [](TSTCabWriter *, uint32_t, uint32_t, uint32_t &, bool &a) {
                    a = true;
                  };
                },
                true),
            7);
  TSTCabWriter w;
  w.OnFileStatus = [](TSTCabWriter *, uint32_t, uint32_t, bool &a) { a = true; };
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(dir / "u.cab");
  try {
    w.AddFile(dir / "a", "a");
  } catch (const ESTCabinet &e) {
    EXPECT_STREQ(e.what(), "Client requested abort [0x0007]");
  }
}

TEST(CabWriter, SizeThresholdSplitsIntoASetThatReadsBack) {
  TempDir dir;
  std::vector<SourceFile> files;
  for (int i = 0; i < 12; ++i)
    files.push_back({"f" + std::to_string(i) + ".bin", MakeData(9000 + 7000 * i, i, i % 2)});
  BuildCabinet(dir / "Data.cab", files, plm::cctMsZip, 50000);
  int cabinets = 0;
  for (const std::string &f : ListTree(dir.path())) {
    if (f.size() > 4 && f.substr(f.size() - 4) == ".cab") {
      ++cabinets;
      EXPECT_LE(plm::FileSize(dir / f), 50000) << f;
    }
  }
  EXPECT_GT(cabinets, 3);
  EXPECT_TRUE(Exists(dir / "Data2.cab"));
  EXPECT_TRUE(Exists(dir / "Data3.cab"));
  const auto back = ReadBack(dir / "Data.cab", dir / "out");
  ASSERT_EQ(back.size(), files.size());
  for (const SourceFile &f : files)
    EXPECT_EQ(back.at(f.stored), f.data) << f.stored;
}

TEST(CabWriter, FileLargerThanSeveralCabinetsSpansThemAll) {
  TempDir dir;
  const std::string big = MakeData(300000, 11, false);
  BuildCabinet(dir / "Big.cab", {{"small.txt", "s"}, {"big.bin", big}, {"tail.txt", "t"}},
               plm::cctNone, 70000);
  EXPECT_TRUE(Exists(dir / "Big5.cab"));
  const auto back = ReadBack(dir / "Big.cab", dir / "out");
  EXPECT_EQ(back.at("big.bin"), big);
  EXPECT_EQ(back.at("small.txt"), "s");
  EXPECT_EQ(back.at("tail.txt"), "t");
}

TEST(CabWriter, FilePlacedReportsContinuations) {
  TempDir dir;
  WriteFile(dir / "a", MakeData(150000, 12, false));
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.CabinetSizeThreshold = 60000;
  std::vector<std::pair<std::string, bool>> placed;
  std::vector<std::string> cabs;
  w.OnFilePlaced = [&](TSTCabWriter *, const plm::TCCAB &ccab, const std::string &name,
                       int32_t size, bool cont, bool &) {
    EXPECT_EQ(size, 150000);
    placed.emplace_back(name, cont);
    cabs.push_back(ccab.szCab);
  };
  w.StartCabinet(dir / "P.cab");
  w.AddFile(dir / "a", "a.bin");
  w.CloseCabinet(true);
  EXPECT_EQ(placed, (std::vector<std::pair<std::string, bool>>{
                        {"a.bin", false}, {"a.bin", true}, {"a.bin", true}}));
  EXPECT_EQ(cabs, (std::vector<std::string>{"P.cab", "P2.cab", "P3.cab"}));
}

TEST(CabWriter, FileCountThresholds) {
  TempDir dir;
  for (int i = 0; i < 5; ++i)
    WriteFile(dir / ("s" + std::to_string(i)), std::string(100, 'a' + i));
  TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.CabinetFileCountThreshold = 2;
  w.StartCabinet(dir / "C.cab");
  for (int i = 0; i < 5; ++i)
    w.AddFile(dir / ("s" + std::to_string(i)), "f" + std::to_string(i));
  w.CloseCabinet(true);
  EXPECT_TRUE(Exists(dir / "C2.cab"));
  EXPECT_TRUE(Exists(dir / "C3.cab"));
  EXPECT_FALSE(Exists(dir / "C4.cab")); // no empty cabinet at the end
  EXPECT_EQ(ReadBack(dir / "C.cab", dir / "o1").size(), 5u);

  TSTCabWriter f;
  f.setCompressionType(plm::cctMsZip);
  f.FolderFileCountThreshold = 2;
  f.StartCabinet(dir / "F.cab");
  for (int i = 0; i < 5; ++i)
    f.AddFile(dir / ("s" + std::to_string(i)), "f" + std::to_string(i));
  f.CloseCabinet(true);
  TSTCabReader r;
  std::vector<int> folders;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t folder, std::string &, bool &) { folders.push_back(folder); };
  r.ExtractFiles(dir / "F.cab", dir / "o2");
  EXPECT_EQ(folders, (std::vector<int>{0, 0, 1, 1, 2}));
}

TEST(CabWriter, ReservedAreasAndSetId) {
  TempDir dir;
  std::vector<SourceFile> files = {{"a.txt", MakeData(80000, 13, true)},
                                   {"b.bin", MakeData(70000, 14, false)}};
  const std::string src = dir / "src";
  TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.ReservePerCabinetSize = 100;
  w.ReservePerFolderSize = 10;
  w.ReservePerDataSize = 5;
  w.SetID = 0x4242;
  w.CabinetSizeThreshold = 60000;
  w.StartCabinet(dir / "R.cab");
  for (const SourceFile &f : files) {
    WriteFile(src + "/" + f.stored, f.data);
    w.AddFile(src + "/" + f.stored, f.stored);
  }
  w.CloseCabinet(true);
  TSTCabReader r;
  std::vector<uint16_t> ids;
  r.OnCabinetInfo = [&](TSTCabReader *, const std::string &, const std::string &,
                        const std::string &, uint16_t id, uint16_t, bool &) { ids.push_back(id); };
  r.ExtractFiles(dir / "R.cab", dir / "out");
  ASSERT_GE(ids.size(), 2u);
  for (uint16_t id : ids)
    EXPECT_EQ(id, 0x4242);
  for (const SourceFile &f : files)
    EXPECT_EQ(ReadFile(dir / "out" + ("/" + f.stored)), f.data);
}

TEST(CabWriter, NextCabinetReplacesAnExistingFileUnlessAborted) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "victim", "keep me");
  // An entry at the next cabinet's place is removed, never written through.
  ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "N2.cab").c_str()), 0);
  {
    TSTCabWriter w;
    w.setCompressionType(plm::cctNone);
    w.StartCabinet(dir / "N.cab");
    w.AddFile(dir / "a", "a");
    w.FlushCabinet(true);
    w.AddFile(dir / "a", "b");
    w.CloseCabinet(true);
  }
  EXPECT_FALSE(plm::IsSymLink(dir / "N2.cab"));
  EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
  EXPECT_EQ(ReadBack(dir / "N.cab", dir / "out").size(), 2u);

  WriteFile(dir / "M2.cab", "existing");
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.OnGetNextCabinet = [](TSTCabWriter *, plm::TCCAB &, uint32_t, bool &a) { a = true; };
  w.StartCabinet(dir / "M.cab");
  w.AddFile(dir / "a", "a");
  EXPECT_EQ(ExpectWriterFailure([&] { w.FlushCabinet(true); }), 7);
  EXPECT_EQ(ReadFile(dir / "M2.cab"), "existing");
}

TEST(CabWriter, GetNextCabinetSeesTheRecordAndMayRenameTheCabinet) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.DiskLabelTemplate = "Vol*";
  std::vector<int> cabNo, diskNo;
  w.OnGetNextCabinet = [&](TSTCabWriter *, plm::TCCAB &ccab, uint32_t prev, bool &) {
    cabNo.push_back(ccab.iCab);
    diskNo.push_back(ccab.iDisk);
    EXPECT_STREQ(ccab.szDisk, ("Vol" + std::to_string(ccab.iDisk)).c_str());
    EXPECT_GT(prev, 0u);
    std::snprintf(ccab.szCab, sizeof ccab.szCab, "renamed%d.cab", ccab.iCab);
  };
  w.StartCabinet(dir / "G.cab");
  w.AddFile(dir / "a", "a");
  w.FlushCabinet(true);
  w.AddFile(dir / "a", "b");
  w.CloseCabinet(true);
  EXPECT_EQ(cabNo, std::vector<int>{2});
  EXPECT_EQ(diskNo, std::vector<int>{2});
  EXPECT_TRUE(Exists(dir / "renamed2.cab"));
  EXPECT_EQ(ReadBack(dir / "G.cab", dir / "out").size(), 2u);
}

TEST(CabWriter, NamesThatDoNotFitTheRecordFailCleanly) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  {
    TSTCabWriter w;
    EXPECT_EQ(ExpectWriterFailure([&] { w.StartCabinet(dir / (std::string(256, 'n') + ".cab")); }),
              6);
    EXPECT_EQ(w.Context(), nullptr);
  }
  {
    TSTCabWriter w;
    w.setCompressionType(plm::cctNone);
    w.CabinetNameTemplate = std::string(300, 'x') + "*";
    w.StartCabinet(dir / "L.cab");
    w.AddFile(dir / "a", "a");
    EXPECT_EQ(ExpectWriterFailure([&] { w.FlushCabinet(true); }), 7);
  }
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "S.cab");
  EXPECT_EQ(ExpectWriterFailure([&] { w.AddFile(dir / "a", std::string(256, 's')); }), 9);
  w.AddFile(dir / "a", std::string(255, 's')); // the longest name a cabinet holds
  w.CloseCabinet(true);
  EXPECT_EQ(ReadBack(dir / "S.cab", dir / "out").count(std::string(255, 's')), 1u);
}

TEST(CabWriter, StoredNamesKeepFoldersAndNonAsciiText) {
  TempDir dir;
  BuildCabinet(dir / "t.cab", {{"img/été.gif", "gif"}, {"Noël\\b.txt", "b"}});
  TSTCabReader r;
  std::vector<std::pair<std::string, uint16_t>> names;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &src, int32_t, uint16_t, uint16_t,
                     uint16_t attrs, uint16_t, std::string &,
                     bool &) { names.emplace_back(src, attrs & _A_NAME_IS_UTF); };
  r.ExtractFiles(dir / "t.cab", dir / "out");
  EXPECT_EQ(names, (std::vector<std::pair<std::string, uint16_t>>{{"img\\été.gif", 0x80},
                                                                  {"Noël\\b.txt", 0x80}}));
  EXPECT_EQ(ReadFile(dir / "out/img/été.gif"), "gif");
  EXPECT_EQ(ReadFile(dir / "out/Noël/b.txt"), "b");
}

TEST(CabWriter, FlushingTwiceDoesNotOverwriteTheCabinet) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  w.StartCabinet(dir / "t.cab");
  w.AddFile(dir / "a", "a");
  w.FlushCabinet(false);
  w.CloseCabinet(true);
  EXPECT_EQ(ReadBack(dir / "t.cab", dir / "out").at("a"), "A");
}

TEST(CabWriter, AFailedCabinetLeavesTheOneItWouldReplace) {
  TempDir dir;
  WriteFile(dir / "a", MakeData(100000, 16, true));
  WriteFile(dir / "t.cab", "the cabinet of yesterday");
  TSTCabWriter w;
  w.setCompressionType(plm::cctMsZip);
  // Refused once the whole cabinet has been written out.
  w.OnCabinetStatus = [](TSTCabWriter *, uint32_t, uint32_t, uint32_t &, bool &a) { a = true; };
  EXPECT_EQ(ExpectWriterFailure([&] {
              w.StartCabinet(dir / "t.cab");
              w.AddFile(dir / "a", "a");
              w.CloseCabinet(true);
            }),
            7);
  EXPECT_EQ(ReadFile(dir / "t.cab"), "the cabinet of yesterday");
  EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"a", "t.cab"}));

  w.OnCabinetStatus = nullptr;
  w.StartCabinet(dir / "t.cab");
  w.AddFile(dir / "a", "a");
  w.CloseCabinet(true);
  EXPECT_EQ(ReadBack(dir / "t.cab", dir / "out").at("a"), MakeData(100000, 16, true));
}

TEST(CabWriter, DestructionClosesWithoutFlushing) {
  TempDir dir;
  WriteFile(dir / "a", MakeData(100000, 15, true));
  {
    auto w = std::make_unique<TSTCabWriter>();
    w->setCompressionType(plm::cctMsZip);
    w->StartCabinet(dir / "t.cab");
    w->AddFile(dir / "a", "a");
    w.reset();
    EXPECT_FALSE(Exists(dir / "t.cab"));
  }
  EXPECT_FALSE(Exists(dir / "t.cab"));
  // No temporary file is left behind either.
  EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"a"});
  TSTCabWriter idle;
  idle.FlushCabinet(true); // nothing started: nothing to do
  idle.CloseCabinet(true);
}

TEST(CabWriter, LargeCabinetSpillsItsBlocksToATemporaryFile) {
  TempDir dir;
  const std::string big = MakeData(40u << 20, 16, false); // more than the writer holds
  BuildCabinet(dir / "L.cab", {{"big.bin", big}, {"small.txt", "s"}}, plm::cctNone);
  EXPECT_GT(plm::FileSize(dir / "L.cab"), int64_t(big.size()));
  const auto back = ReadBack(dir / "L.cab", dir / "out");
  EXPECT_TRUE(back.at("big.bin") == big);
  EXPECT_EQ(back.at("small.txt"), "s");
  // The temporary file is gone with the context.
  for (const std::string &f : ListTree(dir.path()))
    EXPECT_EQ(f.find(".plmcab-"), std::string::npos);
}

TEST(CabWriter, MoreFilesThanOneCabinetListsGoOnInTheNext) {
  TempDir dir;
  WriteFile(dir / "one", "1");
  TSTCabWriter w;
  w.setCompressionType(plm::cctNone);
  w.StartCabinet(dir / "M.cab");
  const int count = 0x10000 + 5; // a cabinet lists at most 65535 files
  for (int i = 0; i < count; ++i)
    w.AddFile(dir / "one", std::to_string(i));
  w.CloseCabinet(true);
  ASSERT_TRUE(Exists(dir / "M2.cab"));
  TSTCabReader r;
  int seen = 0;
  bool ordered = true;
  r.OnCopyFile = [&](TSTCabReader *, const std::string &name, int32_t, uint16_t, uint16_t, uint16_t,
                     uint16_t, std::string &dst, bool &) {
    ordered = ordered && name == std::to_string(seen);
    ++seen;
    dst.clear();
  };
  r.ExtractFiles(dir / "M.cab", dir / "out");
  EXPECT_EQ(seen, count);
  EXPECT_TRUE(ordered);
}
