// Events, the wait on several handles, and folder change notifications over the
// process's one inotify instance.
#include "MonitorHelpers.h"

#include "platform/ChangeNotify.h"
#include "platform/Events.h"
#include "platform/FolderWatch.h"
#include "tests/support/QtTry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plm;
using plmtest::Signalled;
using plmtest::SignalledNow;
using plmtest::TempTree;

namespace {

// A notification closed at the end of the scope.
class Watch {
public:
  Watch(const std::string &path, uint32_t filter)
      : fHandle(FindFirstChangeNotificationA(path, false, filter)) {}
  ~Watch() {
    if (fHandle != INVALID_HANDLE_VALUE) FindCloseChangeNotification(fHandle);
  }
  Watch(const Watch &) = delete;
  Watch &operator=(const Watch &) = delete;
  operator HANDLE() const { return fHandle; }

private:
  HANDLE fHandle;
};

} // namespace

TEST(Events, AutoResetEventsAndTheWaitOrder) {
  const HANDLE a = CreateEventA(false), b = CreateEventA(true);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  const HANDLE both[2] = {a, b};
  EXPECT_FALSE(SignalledNow(a));
  EXPECT_EQ(WaitForMultipleObjects(2, both, 0), WAIT_OBJECT_0 + 1); // made signalled
  EXPECT_EQ(WaitForMultipleObjects(2, both, 0), WAIT_TIMEOUT);      // and reset by the wait

  // Signalling twice is one signal; with both signalled the first in the list wins.
  ASSERT_TRUE(SetEvent(b));
  ASSERT_TRUE(SetEvent(a));
  ASSERT_TRUE(SetEvent(a));
  EXPECT_EQ(WaitForMultipleObjects(2, both, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, 0), WAIT_TIMEOUT);

  ASSERT_TRUE(SetEvent(a));
  EXPECT_TRUE(ResetEvent(a));
  EXPECT_TRUE(ResetEvent(a)); // not signalled: still a success
  EXPECT_FALSE(SignalledNow(a));

  EXPECT_TRUE(CloseHandle(a));
  EXPECT_TRUE(CloseHandle(b));
}

TEST(Events, BadArgumentsFailTheWait) {
  const HANDLE bad = INVALID_HANDLE_VALUE;
  EXPECT_EQ(WaitForMultipleObjects(1, &bad, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, &bad, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(ChangeNotify, EachFilterBitWakesForItsOwnChangesOnly) {
  TempTree t;
  t.MakeFile("old.txt");
  t.MakeDir("olddir");
  Watch dirs(t.Root(), FILE_NOTIFY_CHANGE_DIR_NAME);
  Watch files(t.Root(), FILE_NOTIFY_CHANGE_FILE_NAME);
  Watch attrs(t.Root(), FILE_NOTIFY_CHANGE_ATTRIBUTES);
  ASSERT_NE(dirs, INVALID_HANDLE_VALUE);
  ASSERT_NE(files, INVALID_HANDLE_VALUE);
  ASSERT_NE(attrs, INVALID_HANDLE_VALUE);

  // The reader signals every monitor of one event together, so once the one that
  // must wake has woken, the others' state is final.
  t.MakeDir("new");
  EXPECT_TRUE(Signalled(dirs));
  EXPECT_FALSE(SignalledNow(files));
  EXPECT_FALSE(SignalledNow(attrs));

  t.MakeFile("new.txt");
  EXPECT_TRUE(Signalled(files));
  EXPECT_FALSE(SignalledNow(dirs));

  ::chmod(t.Path("old.txt").c_str(), 0600);
  EXPECT_TRUE(Signalled(attrs));
  EXPECT_FALSE(SignalledNow(dirs));
  EXPECT_FALSE(SignalledNow(files));

  std::rename(t.Path("olddir").c_str(), t.Path("renamed").c_str());
  EXPECT_TRUE(Signalled(dirs));
  EXPECT_FALSE(SignalledNow(files));
  ::rmdir(t.Path("renamed").c_str());
  EXPECT_TRUE(Signalled(dirs));

  ::unlink(t.Path("old.txt").c_str());
  EXPECT_TRUE(Signalled(files));
  EXPECT_FALSE(SignalledNow(dirs));

  // Changes below a subfolder are not the folder's: the watch is not recursive.
  t.MakeDir("new/deeper");
  t.MakeFile("marker.txt");
  EXPECT_TRUE(Signalled(files));
  EXPECT_FALSE(SignalledNow(dirs));
  EXPECT_TRUE(FindNextChangeNotification(dirs));
}

TEST(ChangeNotify, ALinkToAFolderCountsAsAFolder) {
  TempTree t;
  const std::string target = t.MakeDir("target");
  t.MakeDir("watched");
  Watch dirs(t.Path("watched"), FILE_NOTIFY_CHANGE_DIR_NAME);
  Watch files(t.Path("watched"), FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_EQ(::symlink(target.c_str(), t.Path("watched/link").c_str()), 0);
  EXPECT_TRUE(Signalled(files)); // the link itself is a file entry
  EXPECT_TRUE(Signalled(dirs));
  ASSERT_EQ(::symlink((t.Root() + "/nothing").c_str(), t.Path("watched/dangling").c_str()), 0);
  EXPECT_TRUE(Signalled(files));
  EXPECT_FALSE(SignalledNow(dirs));
}

TEST(ChangeNotify, ChangesMadeWhileTheLastOneIsHandledAreNotLost) {
  TempTree t;
  Watch w(t.Root(), FILE_NOTIFY_CHANGE_DIR_NAME);
  t.MakeDir("a");
  ASSERT_TRUE(Signalled(w));
  // The caller now reads the folder; a change made meanwhile signals the handle again.
  t.MakeDir("b");
  ASSERT_TRUE(FindNextChangeNotification(w));
  EXPECT_TRUE(Signalled(w));
  EXPECT_TRUE(FindNextChangeNotification(w));
}

TEST(ChangeNotify, WhatCannotBeWatchedGivesNoHandle) {
  TempTree t;
  const std::string file = t.MakeFile("plain.txt");
  EXPECT_EQ(FindFirstChangeNotificationA(t.Path("missing"), false, 7), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstChangeNotificationA(file, false, 7), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstChangeNotificationA("", false, 7), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstChangeNotificationA(t.Root(), true, 7), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstChangeNotificationA(t.Root(), false, 0), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextChangeNotification(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(FindCloseChangeNotification(12345));
}

TEST(ChangeNotify, AFolderThatGoesEndsItsWatch) {
  TempTree t;
  t.MakeDir("deleted");
  t.MakeDir("moved");
  t.MakeDir("elsewhere");
  Watch deleted(t.Path("deleted"), FILE_NOTIFY_CHANGE_DIR_NAME);
  Watch moved(t.Path("moved"), FILE_NOTIFY_CHANGE_DIR_NAME);
  ASSERT_NE(deleted, INVALID_HANDLE_VALUE);
  ASSERT_NE(moved, INVALID_HANDLE_VALUE);

  ASSERT_EQ(::rmdir(t.Path("deleted").c_str()), 0);
  EXPECT_TRUE(Signalled(deleted));
  EXPECT_FALSE(FindNextChangeNotification(deleted));

  ASSERT_EQ(std::rename(t.Path("moved").c_str(), t.Path("elsewhere/moved").c_str()), 0);
  EXPECT_TRUE(Signalled(moved));
  EXPECT_FALSE(FindNextChangeNotification(moved));
  // What happens in the moved folder is no longer reported.
  t.MakeDir("elsewhere/moved/sub");
  Watch sentinel(t.Path("elsewhere"), FILE_NOTIFY_CHANGE_FILE_NAME);
  t.MakeFile("elsewhere/marker");
  ASSERT_TRUE(Signalled(sentinel));
  EXPECT_FALSE(SignalledNow(moved));
}

// The kernel tells a folder's own deletion only once nothing uses it any more, which a
// program whose current folder it is, or a descriptor open on it, puts off: the folder
// above tells it at once. So does a folder moved in over it, which replaces it.
TEST(ChangeNotify, AFolderInUseThatIsDeletedOrReplacedEndsItsWatchAtOnce) {
  TempTree t;
  t.MakeDir("held");
  t.MakeDir("replaced");
  t.MakeDir("other");
  t.MakeDir("sibling");
  Watch parent(t.Root(), FILE_NOTIFY_CHANGE_FILE_NAME);
  Watch held(t.Path("held"), FILE_NOTIFY_CHANGE_FILE_NAME);
  Watch replaced(t.Path("replaced"), FILE_NOTIFY_CHANGE_FILE_NAME);
  Watch sibling(t.Path("sibling"), FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_NE(replaced, INVALID_HANDLE_VALUE);
  const int inUse = ::open(t.Path("held").c_str(), O_RDONLY | O_DIRECTORY);
  const int inUseToo = ::open(t.Path("replaced").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(inUse, 0);
  ASSERT_GE(inUseToo, 0);

  ASSERT_EQ(::rmdir(t.Path("held").c_str()), 0);
  EXPECT_TRUE(Signalled(held));
  EXPECT_FALSE(FindNextChangeNotification(held));
  ASSERT_EQ(std::rename(t.Path("other").c_str(), t.Path("replaced").c_str()), 0);
  EXPECT_TRUE(Signalled(replaced));
  EXPECT_FALSE(FindNextChangeNotification(replaced));
  ::close(inUse);
  ::close(inUseToo);

  // The folders beside them, and the folder above with its own watch, are still followed.
  EXPECT_TRUE(FindNextChangeNotification(sibling));
  EXPECT_FALSE(SignalledNow(sibling));
  t.MakeFile("sibling/new");
  EXPECT_TRUE(Signalled(sibling));
  ResetEvent(parent);
  t.MakeFile("marker");
  EXPECT_TRUE(Signalled(parent));
  EXPECT_TRUE(FindNextChangeNotification(parent));
}

TEST(ChangeNotify, MonitorsOfOneFolderShareItsWatchAndKeepTheirOwnFilters) {
  TempTree t;
  const std::string dir = t.MakeDir("shared");
  ASSERT_EQ(::symlink(dir.c_str(), t.Path("alias").c_str()), 0);
  Watch byPath(dir, FILE_NOTIFY_CHANGE_DIR_NAME);
  Watch byLink(t.Path("alias"), FILE_NOTIFY_CHANGE_DIR_NAME);
  {
    Watch files(dir, FILE_NOTIFY_CHANGE_FILE_NAME);
    t.MakeFile("shared/f");
    EXPECT_TRUE(Signalled(files));
    EXPECT_FALSE(SignalledNow(byPath));
    EXPECT_FALSE(SignalledNow(byLink));
    t.MakeDir("shared/d1");
    EXPECT_TRUE(Signalled(byPath));
    EXPECT_TRUE(Signalled(byLink));
  }
  // Closing one monitor leaves the others watching.
  t.MakeDir("shared/d2");
  EXPECT_TRUE(Signalled(byPath));
  EXPECT_TRUE(Signalled(byLink));
}

TEST(ChangeNotify, AQueueOverflowWakesEveryMonitor) {
  TempTree t;
  Watch a(t.MakeDir("a"), FILE_NOTIFY_CHANGE_DIR_NAME);
  Watch b(t.MakeDir("b"), FILE_NOTIFY_CHANGE_ATTRIBUTES);
  SimulateChangeQueueOverflow();
  EXPECT_TRUE(Signalled(a));
  EXPECT_TRUE(Signalled(b));
  EXPECT_TRUE(FindNextChangeNotification(a));
}

TEST(ChangeNotify, FiveHundredFoldersCostOneInotifyInstance) {
  TempTree t;
  std::vector<std::unique_ptr<Watch>> watches;
  const int before = plmtest::InotifyInstances();
  const int watchesBefore = plmtest::InotifyWatches();
  for (int i = 0; i < 500; ++i) {
    watches.push_back(std::make_unique<Watch>(t.MakeDir("f" + std::to_string(i)),
                                              FILE_NOTIFY_CHANGE_DIR_NAME));
    ASSERT_NE(*watches.back(), INVALID_HANDLE_VALUE) << i;
  }
  const int after = plmtest::InotifyInstances();
  EXPECT_LE(after - before, 1); // the first use of the process may open it
  EXPECT_GE(after, 1);
  // One each, and one for the folder above them, which tells of their deletion.
  EXPECT_EQ(plmtest::InotifyWatches() - watchesBefore, 501);

  for (int i : {0, 249, 499}) {
    t.MakeDir("f" + std::to_string(i) + "/child");
    EXPECT_TRUE(Signalled(*watches[i])) << i;
  }
  EXPECT_FALSE(SignalledNow(*watches[250]));
  watches.clear();
  EXPECT_EQ(plmtest::InotifyWatches(), watchesBefore);
  EXPECT_EQ(plmtest::InotifyInstances(), after);
}

namespace {

// The folder's changes as one line each, e.g. "renamed b.plm <- a.plm".
std::string Line(const TFolderChange &c) {
  switch (c.What) {
  case TFolderChange::Kind::Added: return (c.IsFolder ? "added folder " : "added ") + c.Name;
  case TFolderChange::Kind::Removed: return "removed " + c.Name;
  case TFolderChange::Kind::Renamed: return "renamed " + c.Name + " <- " + c.OldName;
  case TFolderChange::Kind::Written: return "written " + c.Name;
  case TFolderChange::Kind::Overflow: return "overflow";
  }
  return "?";
}

// Waits for the handle and takes its changes until there are `count` of them.
std::vector<std::string> Take(HANDLE h, size_t count) {
  std::vector<std::string> lines;
  while (lines.size() < count && Signalled(h))
    for (const auto &c : ReadFolderChanges(h)) lines.push_back(Line(c));
  return lines;
}

} // namespace

TEST(FolderChanges, EachFileIsFollowedByNameWritesAndRenamesIncluded) {
  TempTree t;
  const std::string folder = t.MakeDir("letters");
  const std::string outside = t.MakeDir("outside");
  Watch w(folder, FILE_NOTIFY_CHANGE_FILE_NAME);
  const HANDLE h = FindFirstFolderChanges(folder, FILE_NOTIFY_CHANGE_FILE_NAME |
                                                      FILE_NOTIFY_CHANGE_DIR_NAME |
                                                      FILE_NOTIFY_CHANGE_LAST_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  t.MakeFile("letters/a.plm");
  ASSERT_EQ(std::rename(t.Path("letters/a.plm").c_str(), t.Path("letters/b.plm").c_str()), 0);
  ASSERT_EQ(std::rename(t.Path("letters/b.plm").c_str(), (outside + "/b.plm").c_str()), 0);
  t.MakeFile("outside/c.plm");
  ASSERT_EQ(std::rename((outside + "/c.plm").c_str(), t.Path("letters/c.plm").c_str()), 0);
  { std::ofstream(t.Path("letters/c.plm"), std::ios::app) << "more"; }
  // Renamed back and forth: every step is told, in order.
  ASSERT_EQ(std::rename(t.Path("letters/c.plm").c_str(), t.Path("letters/d.plm").c_str()), 0);
  ASSERT_EQ(std::rename(t.Path("letters/d.plm").c_str(), t.Path("letters/c.plm").c_str()), 0);
  t.MakeDir("letters/sub");
  ASSERT_EQ(::unlink(t.Path("letters/c.plm").c_str()), 0);
  const std::vector<std::string> expected = {
      "added a.plm",  "written a.plm",           "renamed b.plm <- a.plm", "removed b.plm",
      "added c.plm",  "written c.plm",           "renamed d.plm <- c.plm", "renamed c.plm <- d.plm",
      "added folder sub", "removed c.plm"};
  EXPECT_EQ(Take(h, expected.size()), expected);
  // The plain notification of the same folder is woken as before, and keeps no list.
  EXPECT_TRUE(Signalled(w));
  EXPECT_TRUE(ReadFolderChanges(w).empty());
  FindCloseChangeNotification(h);
}

TEST(FolderChanges, TooManyAtOnceOrALostKernelQueueIsOneOverflow) {
  TempTree t;
  const std::string folder = t.MakeDir("letters");
  constexpr size_t kKept = 40;
  const HANDLE h = FindFirstFolderChanges(folder, FILE_NOTIFY_CHANGE_FILE_NAME, kKept);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string beside = t.MakeDir("beside");
  const HANDLE marker = FindFirstFolderChanges(beside, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(marker, INVALID_HANDLE_VALUE);
  for (size_t i = 0; i < kKept + 10; ++i) t.MakeFile("letters/" + std::to_string(i));
  // The kernel hands the instance's events over in order: once the file made beside is
  // seen, every one of the folder's has been.
  t.MakeFile("beside/marker");
  EXPECT_EQ(Take(marker, 1), std::vector<std::string>{"added marker"});
  FindCloseChangeNotification(marker);
  std::vector<std::string> lines;
  for (const auto &c : ReadFolderChanges(h)) lines.push_back(Line(c));
  EXPECT_EQ(lines, std::vector<std::string>{"overflow"});
  // Once read, the list starts again: a file made now is told by name.
  t.MakeFile("letters/after");
  lines.clear();
  while (std::find(lines.begin(), lines.end(), "added after") == lines.end() && Signalled(h))
    for (const auto &c : ReadFolderChanges(h)) lines.push_back(Line(c));
  EXPECT_EQ(lines.back(), "added after");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "overflow"), 0);

  SimulateChangeQueueOverflow();
  EXPECT_EQ(Take(h, 1), std::vector<std::string>{"overflow"});
  // A folder that goes ends the list's watch too.
  ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
  while (Signalled(h) && FindNextChangeNotification(h))
    ReadFolderChanges(h); // its files went first
  EXPECT_FALSE(FindNextChangeNotification(h));
  FindCloseChangeNotification(h);
}

// A folder watched while it is missing, its folders above too, is waited for: each time
// it is made, all the levels at once or one after the other (the wait moving down), it is
// told, and once watched, its deletion is.
TEST(FolderWatch, AMissingFolderIsWaitedForAndToldWhenItIsThere) {
  TempTree t;
  const std::string folder = t.Path("a/b/c");
  TFolderWatch watch;
  int returned = 0, gone = 0;
  QObject::connect(&watch, &TFolderWatch::Returned, [&] { ++returned; });
  QObject::connect(&watch, &TFolderWatch::Gone, [&] { ++gone; });
  for (int round = 1; round <= 10; ++round) {
    ASSERT_FALSE(watch.Watch(folder));
    ASSERT_TRUE(watch.Waiting());
    if (round % 2) {
      ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    } else {
      for (const char *level : {"a", "a/b", "a/b/c"}) {
        t.MakeDir(level);
        QTest::qWait(10); // the event loop turns: the wait may move down before the next
      }
    }
    QTRY_COMPARE(returned, round);
    ASSERT_FALSE(watch.Waiting());
    ASSERT_TRUE(watch.Watch(folder));
    ASSERT_EQ(std::system(("rm -r '" + t.Path("a") + "'").c_str()), 0);
    QTRY_COMPARE(gone, round);
  }
}
