// The gallery's provider with the real renderer processes of the built plmtool-browser:
// hostile folders, crashes and hangs, the order of work, answers again from the cache, and
// `plmtool thumbnails` over the same cache.
#include "GalleryFixtures.h"

#include "gallery/PictureBudget.h"
#include "gallery/ThumbnailProvider.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "samples/HostileCabinets.h"
#include "platform/TempFolder.h"
#include "tests/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <map>
#include <set>

#include <unistd.h>

using namespace plm;
using namespace gallerytest;

namespace {

struct Answers {
  std::vector<std::string> Order;
  std::map<std::string, QImage> Pictures;
  std::map<std::string, QString> Reasons;
};

class ProviderTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The renderer processes inherit it: whatever they leave behind shows up here.
    env.Set("TMPDIR", fTemp.Path());
    env.Set("XDG_RUNTIME_DIR", fRoot.Path()); // else Qt makes its own in TMPDIR
  }
  std::unique_ptr<TThumbnailProvider> MakeProvider(int processes = 2, int timeoutMs = 30000,
                                                   const std::string &cache = "/cache",
                                                   size_t budget = 0) {
    TThumbnailProviderOptions o;
    o.Render.Program = fProgram;
    o.Render.CacheRoot = fRoot.Path() + cache;
    o.Render.TemplateTimeoutMs = timeoutMs;
    o.MaxProcesses = processes;
    if (budget) o.PictureBudgetBytes = budget;
    auto p = std::make_unique<TThumbnailProvider>(o);
    QObject::connect(p.get(), &TThumbnailSource::thumbnailReady,
                     [this](const std::string &path, const QImage &picture) {
                       answers.Order.push_back(path);
                       answers.Pictures[path] = picture;
                     });
    QObject::connect(p.get(), &TThumbnailSource::thumbnailFailed,
                     [this](const std::string &path, const QString &reason) {
                       answers.Order.push_back(path);
                       answers.Reasons[path] = reason;
                     });
    return p;
  }
  bool AllAnswered(const TThumbnailProvider &p, int ms = 90000) {
    return QTest::qWaitFor([&] { return p.answered() == p.total(); }, ms);
  }
  std::string Put(const std::string &name) { return WriteTemplate(fRoot.Path() + "/" + name); }
  bool TempFolderEmpty() {
    const bool empty = QTest::qWaitFor([&] { return ListDirectory(fTemp.Path()).empty(); }, 10000);
    for (const auto &n : ListDirectory(fTemp.Path())) ADD_FAILURE() << "left: " << n;
    return empty;
  }

  // Lets the renderer paused on tpl go on once tpl is rewritten under a new stamp; it pauses
  // on it again next time when asked.
  void ChangeWhilePaused(const std::string &tpl, bool pauseAgain) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(tpl + ".rendering"); }, 60000));
    WriteTemplate(tpl, "<HTML><BODY bgColor=#2040e0>x</BODY></HTML>");
    fChanges += 5;
    ASSERT_TRUE(SetFileModTime(tpl, FileModTime(tpl) + fChanges));
    if (!pauseAgain) {
      ASSERT_EQ(WriteFileBytes(tpl + ".paused", ""), 0);
    }
    ASSERT_TRUE(DeleteFile(tpl + ".rendering"));
  }
  void UseFaults(const char *fault) {
    fProgram = QString(PLM_BIN_DIR) + "/plmtool-render-faults";
    env.Set("PLM_RENDER_TEST_FAULT", fault);
  }

  QString fProgram = QString(PLM_BIN_DIR) + "/plmtool-browser";
  int fChanges = 0;
  TTempFolder fRoot{"plm-provider-"};
  TTempFolder fTemp{"plm-provider-tmp-"};
  plmtest::ScopedEnv env;
  Answers answers;
};

TEST_F(ProviderTest, AHostileFolderCostsOnlyItsBadTemplatesAndIsThenServedFromTheCache) {
  const std::vector<std::string> good = {Put("simple.plm"), Put("caf\xe9\xff.plm"),
                                         WriteTemplate(fRoot.Path() + "/refresh.plm",
                                                       Page("<META http-equiv=refresh content=0;url=http://127.0.0.1:9/>"))};
  const std::string damaged = fRoot.Path() + "/damaged.plm", nopage = fRoot.Path() + "/nopage.plm";
  ASSERT_EQ(WriteFileBytes(damaged, "MSCF and nothing more"), 0);
  ASSERT_EQ(WriteFileBytes(nopage, samples::StoredCabinet({{"content.ini", "[General]\r\n"}})), 0);
  const std::string bomb = WriteBomb(fRoot.Path() + "/bomb.plm");
  const std::string notCab = fRoot.Path() + "/letter.plm", gone = fRoot.Path() + "/gone.plm";
  ASSERT_EQ(WriteFileBytes(notCab, "Dear friend, this is plain text."), 0);
  std::vector<std::string> all = good;
  all.insert(all.end(), {damaged, nopage, bomb, notCab, gone});
  {
    auto provider = MakeProvider();
    QSignalSpy progress(provider.get(), &TThumbnailSource::progressChanged);
    provider->setTemplates(all);
    EXPECT_EQ(provider->total(), int(all.size()));
    ASSERT_TRUE(AllAnswered(*provider));
    for (const auto &path : good) {
      ASSERT_TRUE(answers.Pictures.count(path)) << path << ": " << answers.Reasons[path].toStdString();
      EXPECT_TRUE(ShowsPage(answers.Pictures[path])) << path;
      EXPECT_EQ(answers.Pictures[path].width(), 256);
    }
    EXPECT_EQ(answers.Reasons.size(), 5u);
    // Each failure says why in French, without the cabinet library's English words; a
    // cabinet cut inside its header is damaged, a file without the signature no cabinet.
    const std::map<std::string, QString> why = {{damaged, "endommagée"}, {nopage, "pas de page"},
                                                {bomb, "256 Mo"}, {notCab, "pas une archive"},
                                                {gone, "introuvable"}};
    for (const auto &[path, reason] : answers.Reasons) {
      EXPECT_TRUE(reason.contains(why.at(path))) << path << ": " << reason.toStdString();
      EXPECT_FALSE(reason.contains("abinet file") || reason.contains("[0x")) << reason.toStdString();
    }
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toInt(), int(all.size()));
  }
  EXPECT_TRUE(TempFolderEmpty());

  // A second gallery finds every picture and failure in the cache: no process starts.
  answers = Answers();
  auto again = MakeProvider();
  again->setTemplates(all);
  ASSERT_TRUE(AllAnswered(*again));
  EXPECT_EQ(again->RunningProcesses(), 0);
  EXPECT_EQ(answers.Pictures.size(), good.size());
  EXPECT_TRUE(answers.Reasons[bomb].contains("256 Mo"));
}

struct FaultCase {
  const char *Name;
  const char *Fault;
  int TimeoutMs;
  const char *Why; // in the French reason shown
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.Name; }

class ProviderFaults : public ProviderTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ProviderFaults, ARendererThatDiesOrHangsCostsOnePicture) {
  UseFaults(GetParam().Fault);
  const std::vector<std::string> all = {Put("a.plm"), Put("victim.plm"), Put("b.plm"), Put("c.plm")};
  {
    auto provider = MakeProvider(1, GetParam().TimeoutMs);
    provider->setTemplates(all);
    ASSERT_TRUE(AllAnswered(*provider));
    EXPECT_EQ(answers.Pictures.size(), 3u);
    ASSERT_EQ(answers.Reasons.count(all[1]), 1u);
    EXPECT_TRUE(answers.Reasons[all[1]].contains(QString::fromUtf8(GetParam().Why)))
        << answers.Reasons[all[1]].toStdString();
    EXPECT_EQ(provider->Cache().Lookup(TThumbnailCache::Stamp(all[1])).Kind,
              TThumbnailCache::Found::Failure); // not tried again until the file changes
  }
  EXPECT_TRUE(TempFolderEmpty());
}

INSTANTIATE_TEST_SUITE_P(Faults, ProviderFaults,
                         ::testing::Values(FaultCase{"Crash", "crash=victim", 30000, "s'est arrêté"},
                                           FaultCase{"Hang", "hang=victim", 4000, "à temps"}),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST_F(ProviderTest, ACacheThatKeepsNothingStillGivesEveryPicture) {
  const std::string blocker = Put("blocker.plm"); // a file where the cache's folder would be
  const std::vector<std::string> all = {Put("a.plm"), Put("b.plm")};
  auto provider = MakeProvider(1, 30000, "/blocker.plm/thumbnails");
  provider->setTemplates(all);
  ASSERT_TRUE(AllAnswered(*provider));
  EXPECT_EQ(answers.Pictures.size(), 2u);
  EXPECT_TRUE(IsRegularFile(blocker));
}

TEST_F(ProviderTest, ShownTemplatesGoFirstAndKnownOnesAreAnsweredAgainFromTheEventLoop) {
  std::vector<std::string> all;
  for (int i = 0; i < 6; ++i)
    all.push_back(Put("t" + std::to_string(i) + ".plm"));
  auto provider = MakeProvider(1);
  provider->setTemplates(all);
  provider->setVisible({all[4], all[5]});
  ASSERT_TRUE(AllAnswered(*provider));
  ASSERT_EQ(answers.Order.size(), all.size());
  EXPECT_EQ(std::vector<std::string>(answers.Order.begin(), answers.Order.begin() + 2),
            (std::vector<std::string>{all[4], all[5]}));

  // The same list again: answered anew, never from inside the call.
  answers = Answers();
  provider->setTemplates({all[1], all[0]});
  EXPECT_TRUE(answers.Order.empty());
  EXPECT_EQ(provider->answered(), 0);
  ASSERT_TRUE(AllAnswered(*provider));
  EXPECT_EQ(answers.Order, (std::vector<std::string>{all[1], all[0]}));

  // The file is rewritten within the same second: refresh makes it again.
  WriteTemplate(all[0], "<HTML><BODY bgColor=#2040e0>x</BODY></HTML>");
  answers = Answers();
  provider->refresh(all[0]);
  EXPECT_EQ(provider->answered(), 1);
  ASSERT_TRUE(AllAnswered(*provider));
  ASSERT_EQ(answers.Pictures.count(all[0]), 1u);
  const QImage redrawn = answers.Pictures[all[0]];
  EXPECT_EQ(redrawn.pixelColor(redrawn.width() / 2, redrawn.height() / 2), QColor(0x20, 0x40, 0xe0));
}

TEST_F(ProviderTest, ATemplateReplacedWhileMadeIsMadeAgainFromItsNewContents) {
  UseFaults("pause=changing");
  const std::string tpl = Put("changing.plm");
  auto provider = MakeProvider(1);
  provider->setTemplates({tpl});
  ChangeWhilePaused(tpl, true);
  ChangeWhilePaused(tpl, false); // twice: within the rule's tries
  ASSERT_TRUE(AllAnswered(*provider));
  ASSERT_EQ(answers.Pictures.count(tpl), 1u);
  const QImage picture = answers.Pictures[tpl];
  EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor(0x20, 0x40, 0xe0));
  // What the cache holds is the new contents' picture, under their stamp.
  EXPECT_EQ(provider->Cache().Lookup(TThumbnailCache::Stamp(tpl)).Kind, TThumbnailCache::Found::Picture);

  // Its tries are counted anew once it is made: twice more is still within the rule.
  ASSERT_TRUE(DeleteFile(tpl + ".paused"));
  answers = Answers();
  provider->refresh(tpl);
  ChangeWhilePaused(tpl, true);
  ChangeWhilePaused(tpl, false);
  ASSERT_TRUE(AllAnswered(*provider));
  EXPECT_EQ(answers.Pictures.count(tpl), 1u) << answers.Reasons[tpl].toStdString();
}

TEST_F(ProviderTest, AFailureIsRecordedUnderTheStateOfTheFileThatWasSent) {
  UseFaults("pause-crash=victim");
  const std::string tpl = Put("victim.plm");
  const TTemplateStamp sent = TThumbnailCache::Stamp(tpl);
  auto provider = MakeProvider(1);
  provider->setTemplates({tpl});
  ChangeWhilePaused(tpl, false); // then the renderer dies
  ASSERT_TRUE(AllAnswered(*provider));
  ASSERT_EQ(answers.Reasons.count(tpl), 1u);
  // The contents that failed are not tried again; the new ones are.
  EXPECT_EQ(provider->Cache().Lookup(sent).Kind, TThumbnailCache::Found::Failure);
  EXPECT_EQ(provider->Cache().Lookup(TThumbnailCache::Stamp(tpl)).Kind, TThumbnailCache::Found::Nothing);
}

TEST_F(ProviderTest, PlmtoolThumbnailsFillsTheSameCache) {
  ASSERT_TRUE(ForceDirectories(fRoot.Path() + "/folder/sub"));
  const std::string a = WriteTemplate(fRoot.Path() + "/folder/a.plm");
  const std::string b = WriteTemplate(fRoot.Path() + "/folder/sub/b.plm");
  ASSERT_EQ(WriteFileBytes(fRoot.Path() + "/folder/bad.plm", "not a cabinet"), 0);
  // A linked folder is walked as the catalogue walks it: once, and a link back up ends there.
  ASSERT_TRUE(ForceDirectories(fRoot.Path() + "/elsewhere"));
  WriteTemplate(fRoot.Path() + "/elsewhere/c.plm");
  ASSERT_EQ(symlink((fRoot.Path() + "/elsewhere").c_str(), (fRoot.Path() + "/folder/linked").c_str()), 0);
  ASSERT_EQ(symlink((fRoot.Path() + "/folder").c_str(), (fRoot.Path() + "/folder/sub/up").c_str()), 0);
  const std::vector<std::string> cacheEnv = {"XDG_CACHE_HOME=" + fRoot.Path() + "/xdg"};

  ToolRun r = RunPlmtool({"thumbnails", "-r", fRoot.Path() + "/folder"}, cacheEnv);
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_NE(r.Out.find("3 made, 0 already there, 1 failed"), std::string::npos) << r.Out;
  // Progress goes to standard error, as every verb that walks folders writes it.
  EXPECT_NE(r.Err.find(a + ": made"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(fRoot.Path() + "/folder/linked/c.plm: made"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "3 made, 0 already there, 1 failed\n");
  r = RunPlmtool({"thumbnails", fRoot.Path() + "/folder"}, cacheEnv);
  EXPECT_NE(r.Out.find("0 made, 1 already there, 1 failed"), std::string::npos) << r.Out;

  // The gallery takes those pictures as they are.
  const TThumbnailCache cache(fRoot.Path() + "/xdg/thumbnails");
  EXPECT_TRUE(ShowsPage(cache.Lookup(TThumbnailCache::Stamp(b)).Picture));
  EXPECT_TRUE(ShowsPage(cache.Lookup(TThumbnailCache::Stamp(fRoot.Path() + "/folder/linked/c.plm")).Picture));
  EXPECT_EQ(RunPlmtool({"thumbnails"}).Code, 2);
}

} // namespace

TEST(PictureBudget, DropsTheLeastRecentlyShownAndNeverHoldsMore) {
  const QImage one(16, 16, QImage::Format_ARGB32); // 1 KiB
  TPictureBudget budget(3 * TPictureBudget::Cost(one));
  for (const char *p : {"a", "b", "c"}) EXPECT_TRUE(budget.Keep(p, one).empty());
  ASSERT_NE(budget.Use("a"), nullptr); // a shown again: b is now the oldest
  EXPECT_EQ(budget.Keep("d", one), std::vector<std::string>{"b"});
  // A picture not shown goes first, itself when there is no room.
  EXPECT_EQ(budget.Keep("far", one, false), std::vector<std::string>{"far"});
  // Replacing a picture by a bigger one makes room for the difference only.
  EXPECT_EQ(budget.Keep("d", QImage(16, 32, QImage::Format_ARGB32)), std::vector<std::string>{"c"});
  EXPECT_EQ(budget.Bytes(), budget.Limit());
  EXPECT_EQ(budget.Keep("huge", QImage(64, 64, QImage::Format_ARGB32)).size(), 3u);
  EXPECT_EQ(budget.Count(), 0u);
  EXPECT_EQ(budget.Bytes(), 0u);
}

// A folder bigger than the budget: every picture is found in the cache and counted, only
// the budget's worth stays decoded, and a dropped one comes back from the cache when shown
// again; once the cache folder is gone, it is made again by a renderer.
TEST_F(ProviderTest, PicturesBeyondTheBudgetAreDroppedAndReadAgainFromTheCache) {
  constexpr int kCount = 40, kKept = 6;
  const TThumbnailCache cache(fRoot.Path() + "/cache");
  std::vector<std::string> all;
  const auto colour = [](int i) { return QColor(i * 5, 100, 200); };
  for (int i = 0; i < kCount; ++i) {
    all.push_back(Put("t" + std::to_string(i) + ".plm"));
    QImage picture(256, 192, QImage::Format_RGB32);
    picture.fill(colour(i));
    ASSERT_EQ(cache.Store(TThumbnailCache::Stamp(all.back()), picture), 0);
  }
  auto provider = MakeProvider(1, 30000, "/cache", kKept * 256 * 192 * 4);
  const TPictureBudget &held = provider->Pictures();
  size_t most = 0;
  std::set<std::string> dropped;
  QObject::connect(provider.get(), &TThumbnailSource::thumbnailDropped, [&](const std::string &p) {
    dropped.insert(p);
    most = std::max(most, held.Bytes());
  });
  QObject::connect(provider.get(), &TThumbnailSource::thumbnailReady,
                   [&](const std::string &, const QImage &) { most = std::max(most, held.Bytes()); });
  provider->setTemplates(all);
  provider->setVisible({all[0], all[1]});
  ASSERT_TRUE(AllAnswered(*provider));
  EXPECT_EQ(provider->RunningProcesses(), 0);
  EXPECT_EQ(provider->answered(), kCount); // found, not held
  EXPECT_LE(held.Count(), size_t(kKept));
  EXPECT_GE(dropped.size(), size_t(kCount - kKept));
  EXPECT_TRUE(held.Holds(all[0]) && held.Holds(all[1]));

  // Scrolled to the end: the shown rows and their margin are read again on the workers.
  provider->setVisible({all[38], all[39]});
  ASSERT_TRUE(QTest::qWaitFor([&] { return held.Holds(all[37]) && held.Holds(all[38]) && held.Holds(all[39]); }, 10000));
  for (int i : {37, 38, 39}) EXPECT_EQ(held.Find(all[size_t(i)])->pixelColor(10, 10), colour(i));
  // A row painted before its read arrives is read at once.
  ASSERT_FALSE(held.Holds(all[20]));
  EXPECT_EQ(provider->picture(all[20]).pixelColor(10, 10), colour(20));
  EXPECT_LE(most, held.Limit());
  EXPECT_LE(held.Bytes(), held.Limit());

  // The cache folder removed under the gallery: the picture is made again.
  ASSERT_FALSE(held.Holds(all[10]));
  ASSERT_EQ(std::system(("rm -rf '" + fRoot.Path() + "/cache'").c_str()), 0);
  answers = Answers();
  provider->setVisible({all[10]});
  EXPECT_TRUE(provider->picture(all[10]).isNull());
  ASSERT_TRUE(QTest::qWaitFor([&] { return answers.Pictures.count(all[10]) != 0; }, 60000));
  EXPECT_TRUE(ShowsPage(answers.Pictures[all[10]]));
  EXPECT_TRUE(AllAnswered(*provider));
  EXPECT_EQ(provider->answered(), kCount);
  EXPECT_LE(most, held.Limit());
}
