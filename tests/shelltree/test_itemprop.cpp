// The item context menu: the three interface forms with a fake menu, and the provider's
// own commands on disk, driven through the real menu and windows.
#include "platform/Launcher.h"
#include "platform/TempDir.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/Dialogs.h"
#include "platform/shell/ShellUI.h"
#include "platform/shell/gui/ShellWindows.h"
#include "shelltree/ItemProp.h"
#include "tests/shelltree/ShellFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMenu>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <functional>

#include <sys/stat.h>

using namespace plm;
using namespace shelltest;

namespace {

// Runs step from the event loop until it reports that it is done. A step that never gets
// there closes every menu and window after a generous bound, so the test fails, not hangs.
void WhenReady(std::function<bool()> step) {
  auto *timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, step, tries] {
    if (step()) {
      timer->stop();
      timer->deleteLater();
    } else if (++*tries > 4000) {
      ADD_FAILURE() << "the awaited menu or window never came";
      if (QWidget *w = QApplication::activePopupWidget()) w->close();
      if (QWidget *w = QApplication::activeModalWidget()) w->close();
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

QMenu *OpenMenu() {
  auto *m = qobject_cast<QMenu *>(QApplication::activePopupWidget());
  return m && m->isVisible() ? m : nullptr;
}

QAction *FindAction(QMenu *m, const QString &text) {
  for (QAction *a : m->actions())
    if (QString(a->text()).remove('&') == text) return a;
  return nullptr;
}

// Picks a command of the open menu with the keyboard.
bool Choose(const QString &text) {
  QMenu *m = OpenMenu();
  if (!m) return false;
  QAction *a = FindAction(m, text);
  if (!a) return false;
  m->setActiveAction(a);
  QTest::keyClick(m, Qt::Key_Return);
  return true;
}

bool Dismiss() {
  QMenu *m = OpenMenu();
  if (!m) return false;
  QTest::keyClick(m, Qt::Key_Escape);
  return true;
}

// Answers the name prompt once it shows.
void AnswerName(const QString &text, bool accept = true) {
  WhenReady([=] {
    auto *d = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
    if (!d || !d->isVisible()) return false;
    d->setTextValue(text);
    if (accept) d->accept();
    else d->reject();
    return true;
  });
}

// ---- a fake context menu offering one, two or three forms ------------------------------

struct MenuLog {
  int Form = 1;
  bool OwnerDrawn = false;
  HRESULT InvokeResult = S_OK;
  std::vector<std::string> Verbs;
  std::vector<UINT> Messages;
  UINT First = 0, Last = 0, Flags = 0;
  bool HourglassWhileFilling = false;
  bool Released = false;
  int Measures = 0, Draws = 0;
};

class FakeMenu final : public TComObject<IContextMenu3> {
public:
  explicit FakeMenu(MenuLog &log) : fLog(log) {}
  ~FakeMenu() override { fLog.Released = true; }
  HRESULT QueryInterface(const IID &iid, void **out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IContextMenu ||
        (iid == IID_IContextMenu2 && fLog.Form >= 2) || (iid == IID_IContextMenu3 && fLog.Form >= 3)) {
      AddRef();
      *out = static_cast<IContextMenu3 *>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT QueryContextMenu(HMENU m, UINT index, UINT first, UINT last, UINT flags) override {
    fLog.First = first;
    fLog.Last = last;
    fLog.Flags = flags;
    fLog.HourglassWhileFilling = ScreenCursor() == TScreenCursor::crHourGlass;
    InsertMenuA(m, index, MF_BYPOSITION | MF_STRING, first + 0, "Un");
    InsertMenuA(m, index + 1, MF_BYPOSITION | MF_STRING, first + 1, "Deux");
    if (fLog.OwnerDrawn)
      InsertMenuA(m, index + 2, MF_BYPOSITION | MF_OWNERDRAW, first + 2,
                  reinterpret_cast<const char *>(uintptr_t(0x1234)));
    return MAKE_SCODE16(fLog.OwnerDrawn ? 3 : 2);
  }
  HRESULT InvokeCommand(const CMINVOKECOMMANDINFO *ci) override {
    fLog.Verbs.push_back(IS_INTRESOURCE(ci->lpVerb)
                             ? std::to_string(reinterpret_cast<uintptr_t>(ci->lpVerb))
                             : std::string(ci->lpVerb));
    EXPECT_EQ(ci->nShow, int(SW_SHOWNORMAL));
    EXPECT_EQ(ci->fMask, 0u);
    return fLog.InvokeResult;
  }
  HRESULT GetCommandString(uintptr_t, UINT, UINT *, char *, UINT) override { return E_NOTIMPL; }
  HRESULT HandleMenuMsg(UINT msg, WPARAM w, LPARAM l) override {
    EXPECT_EQ(fLog.Form, 2) << "the second form's routine for a third-form menu";
    return Handle(msg, w, l);
  }
  HRESULT HandleMenuMsg2(UINT msg, WPARAM w, LPARAM l, LRESULT *) override {
    EXPECT_EQ(fLog.Form, 3);
    return Handle(msg, w, l);
  }

private:
  HRESULT Handle(UINT msg, WPARAM, LPARAM l) {
    fLog.Messages.push_back(msg);
    if (msg == WM_MEASUREITEM) {
      auto *m = reinterpret_cast<MEASUREITEMSTRUCT *>(l);
      EXPECT_EQ(m->itemData, 0x1234u);
      m->itemWidth = 120;
      m->itemHeight = 20;
      ++fLog.Measures;
    } else if (msg == WM_DRAWITEM) {
      auto *d = reinterpret_cast<DRAWITEMSTRUCT *>(l);
      static_cast<QPainter *>(d->hDC)->drawText(5, 15, QStringLiteral("dessiné"));
      ++fLog.Draws;
    }
    return S_OK;
  }
  MenuLog &fLog;
};

class FakeFolder final : public TComObject<IShellFolder> {
public:
  explicit FakeFolder(MenuLog &log) : fLog(log) {}
  bool NoMenu = false;
  HRESULT QueryInterface(const IID &, void **out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT ParseDisplayName(HWND, void *, const char16_t *, ULONG *, LPITEMIDLIST *, ULONG *) override { return E_NOTIMPL; }
  HRESULT EnumObjects(HWND, SHCONTF, IEnumIDList **) override { return E_NOTIMPL; }
  HRESULT BindToObject(LPCITEMIDLIST, void *, const IID &, void **) override { return E_NOTIMPL; }
  HRESULT BindToStorage(LPCITEMIDLIST, void *, const IID &, void **) override { return E_NOTIMPL; }
  HRESULT CompareIDs(LPARAM, LPCITEMIDLIST, LPCITEMIDLIST) override { return E_NOTIMPL; }
  HRESULT CreateViewObject(HWND, const IID &, void **) override { return E_NOTIMPL; }
  HRESULT GetAttributesOf(UINT, const LPCITEMIDLIST *, SFGAOF *) override { return E_NOTIMPL; }
  HRESULT GetDisplayNameOf(LPCITEMIDLIST, SHGDNF, STRRET *) override { return E_NOTIMPL; }
  HRESULT SetNameOf(HWND, LPCITEMIDLIST, const char16_t *, SHGDNF, LPITEMIDLIST *) override { return E_NOTIMPL; }
  HRESULT GetUIObjectOf(HWND, UINT cidl, const LPCITEMIDLIST *, const IID &riid, UINT *,
                        void **ppv) override {
    EXPECT_EQ(cidl, 1u);
    EXPECT_TRUE(riid == IID_IContextMenu);
    if (NoMenu) return E_FAIL;
    auto *m = new FakeMenu(fLog);
    const HRESULT hr = m->QueryInterface(riid, ppv);
    m->Release();
    return hr;
  }

private:
  MenuLog &fLog;
};

bool CallbackWindowExists() {
  for (QWidget *w : QApplication::allWidgets())
    if (w->objectName() == QLatin1String(TMenuCallbackWindow::WindowName)) return true;
  return false;
}

} // namespace

class ContextMenuForms : public ::testing::TestWithParam<int> {
protected:
  bool Show(MenuLog &log, FakeFolder *folder = nullptr) {
    ComPtr<FakeFolder> f = folder ? ComPtr<FakeFolder>(folder)
                                  : ComPtr<FakeFolder>::Attach(new FakeFolder(log));
    LPITEMIDLIST item = Bytes({3, 0, 'x', 0, 0});
    const bool r = ShowItemContextMenu(f.get(), {item}, QPoint(50, 50), &fOwner);
    Free(item);
    return r;
  }
  QWidget fOwner;
};

TEST_P(ContextMenuForms, AChosenCommandRunsAsItsNumericVerb) {
  MenuLog log;
  log.Form = GetParam();
  QWidget *menuParent = nullptr;
  bool callbackWhileOpen = false;
  WhenReady([&] {
    QMenu *m = OpenMenu();
    if (!m) return false;
    menuParent = m->parentWidget();
    callbackWhileOpen = CallbackWindowExists();
    return Choose(QStringLiteral("Deux"));
  });
  EXPECT_TRUE(Show(log));
  EXPECT_EQ(log.Verbs, std::vector<std::string>{"1"}); // command id 2, verb 2 - 1
  EXPECT_EQ(log.First, 1u);
  EXPECT_EQ(log.Last, 0x7FFFu);
  EXPECT_EQ(log.Flags, CMF_EXPLORE);
  EXPECT_TRUE(log.HourglassWhileFilling);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault); // put back
  EXPECT_TRUE(log.Released);
  EXPECT_FALSE(CallbackWindowExists()); // destroyed with the menu
  if (GetParam() == 1) {
    EXPECT_FALSE(callbackWhileOpen);
    EXPECT_EQ(menuParent, &fOwner); // no callback window: the owner owns the menu
    EXPECT_TRUE(log.Messages.empty());
  } else {
    EXPECT_TRUE(callbackWhileOpen);
    EXPECT_NE(menuParent, &fOwner);
    ASSERT_FALSE(log.Messages.empty());
    EXPECT_EQ(log.Messages[0], WM_INITMENUPOPUP);
  }
}

TEST_P(ContextMenuForms, DismissingRunsNothingAndSucceeds) {
  MenuLog log;
  log.Form = GetParam();
  WhenReady(Dismiss);
  EXPECT_TRUE(Show(log));
  EXPECT_TRUE(log.Verbs.empty());
  EXPECT_TRUE(log.Released);
}

TEST_P(ContextMenuForms, ACommandThatFailsGivesFalse) {
  MenuLog log;
  log.Form = GetParam();
  log.InvokeResult = S_FALSE;
  WhenReady([] { return Choose(QStringLiteral("Un")); });
  EXPECT_FALSE(Show(log));
  EXPECT_EQ(log.Verbs, std::vector<std::string>{"0"});
}

TEST_P(ContextMenuForms, OwnerDrawnItemsGetTheirMessagesThroughTheCallbackWindow) {
  MenuLog log;
  log.Form = GetParam();
  log.OwnerDrawn = true;
  WhenReady([&] {
    // The second and third forms draw the item: wait until it was drawn.
    if (!OpenMenu() || (log.Form > 1 && log.Draws == 0)) return false;
    return Dismiss();
  });
  EXPECT_TRUE(Show(log));
  const auto has = [&](UINT m) {
    return std::find(log.Messages.begin(), log.Messages.end(), m) != log.Messages.end();
  };
  if (log.Form == 1) { // nothing to hand the messages to
    EXPECT_TRUE(log.Messages.empty());
    return;
  }
  EXPECT_GT(log.Measures, 0);
  EXPECT_GT(log.Draws, 0);
  EXPECT_TRUE(has(WM_INITMENUPOPUP));
  EXPECT_TRUE(has(WM_MEASUREITEM));
  EXPECT_TRUE(has(WM_DRAWITEM));
}

INSTANTIATE_TEST_SUITE_P(Forms, ContextMenuForms, ::testing::Values(1, 2, 3));

TEST(ContextMenu, NoMenuForTheItemGivesFalseQuietly) {
  MenuLog log;
  auto *f = new FakeFolder(log);
  f->NoMenu = true;
  LPITEMIDLIST item = Bytes({3, 0, 'x', 0, 0});
  EXPECT_FALSE(ShowItemContextMenu(f, {item}, QPoint(10, 10), nullptr));
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
  EXPECT_FALSE(ShowItemContextMenu(nullptr, {item}, QPoint(10, 10), nullptr));
  Free(item);
  f->Release();
}

TEST(ContextMenu, CallbackRoutineAnswers) {
  MenuLog log;
  log.Form = 2;
  auto *menu = new FakeMenu(log);
  TMenuCallbackWindow w(menu, false);
  menu->Release();
  EXPECT_EQ(w.objectName(), QLatin1String("ItemPropCallbackProcessor"));
  EXPECT_EQ(MenuCallbackWindowProc(&w, WM_INITMENUPOPUP, 0, 0), 0);
  MEASUREITEMSTRUCT m;
  m.itemData = 0x1234;
  EXPECT_EQ(MenuCallbackWindowProc(&w, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&m)), 1);
  EXPECT_EQ(MenuCallbackWindowProc(&w, 0x0200 /* a mouse move */, 0, 0), 0);
  EXPECT_EQ(log.Messages, (std::vector<UINT>{WM_INITMENUPOPUP, WM_MEASUREITEM}));
}

// ---- the provider's own menu on a temporary folder ----------------------------------------

class ProviderMenu : public TempTree {
protected:
  void SetUp() override {
    TempTree::SetUp();
    ItemPropInitialize();
    MakeDir("dossier");
    MakeFile("ancien.txt", "12345");
    fPrevious = SetMessageHandler([this](const MessageRequest &r) {
      Messages.push_back(r.text.toStdString());
      return mrOk;
    });
    fLauncher = SetLauncher([this](const std::string &p) {
      Opened.push_back(p);
      return true;
    });
  }
  void TearDown() override {
    SetMessageHandler(fPrevious);
    SetLauncher(fLauncher);
    TempTree::TearDown();
  }
  // Opens the menu of one entry of the tree's folder.
  bool MenuOn(const std::string &name) {
    auto folder = FolderOf(fRoot);
    const std::u16string w = WideFromBytes(name);
    LPITEMIDLIST item = nullptr;
    if (FAILED(folder->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &item, nullptr)))
      return false;
    const bool r = ShowItemContextMenu(folder.get(), {item}, QPoint(40, 40), &fOwner);
    Free(item);
    return r;
  }
  static bool Exists(const std::string &p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
  }
  std::vector<std::string> Messages, Opened;
  QWidget fOwner;
  MessageHandler fPrevious;
  LaunchFunction fLauncher;
};

TEST_F(ProviderMenu, OffersTheRealCommandsInFrench) {
  QStringList captions;
  WhenReady([&] {
    QMenu *m = OpenMenu();
    if (!m) return false;
    for (QAction *a : m->actions())
      if (!a->isSeparator()) captions << QString(a->text()).remove('&');
    EXPECT_EQ(m->defaultAction(), m->actions().value(0));
    return Dismiss();
  });
  EXPECT_TRUE(MenuOn("dossier"));
  EXPECT_EQ(captions, (QStringList{"Ouvrir", "Ouvrir dans le gestionnaire de fichiers",
                                   "Nouveau dossier", "Renommer", "Mettre à la corbeille",
                                   "Copier le chemin", "Propriétés"}));
}

TEST_F(ProviderMenu, OpenHandsTheItemToTheLauncher) {
  WhenReady([] { return Choose(QStringLiteral("Ouvrir")); });
  EXPECT_TRUE(MenuOn("ancien.txt"));
  WhenReady([] { return Choose(QStringLiteral("Ouvrir dans le gestionnaire de fichiers")); });
  EXPECT_TRUE(MenuOn("ancien.txt"));
  EXPECT_EQ(Opened, (std::vector<std::string>{Path("ancien.txt"), fRoot}));
}

TEST_F(ProviderMenu, NewFolderAsksItsNameAndMakesIt) {
  WhenReady([] {
    if (!Choose(QStringLiteral("Nouveau dossier"))) return false;
    AnswerName(QStringLiteral("Créé ici"));
    return true;
  });
  EXPECT_TRUE(MenuOn("dossier"));
  EXPECT_TRUE(Exists(Path("dossier/Créé ici")));
  // A cancelled prompt makes nothing.
  WhenReady([] {
    if (!Choose(QStringLiteral("Nouveau dossier"))) return false;
    AnswerName(QStringLiteral("Jamais"), false);
    return true;
  });
  EXPECT_FALSE(MenuOn("dossier"));
  EXPECT_FALSE(Exists(Path("dossier/Jamais")));
}

TEST_F(ProviderMenu, RenameAsksTheNewNameAndNeverReplaces) {
  MakeFile("pris.txt", "keep");
  WhenReady([] {
    if (!Choose(QStringLiteral("Renommer"))) return false;
    AnswerName(QStringLiteral("pris.txt"));
    return true;
  });
  EXPECT_FALSE(MenuOn("ancien.txt"));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("existe déjà"), std::string::npos);
  EXPECT_TRUE(Exists(Path("ancien.txt")));
  WhenReady([] {
    if (!Choose(QStringLiteral("Renommer"))) return false;
    AnswerName(QStringLiteral("nouveau.txt"));
    return true;
  });
  EXPECT_TRUE(MenuOn("ancien.txt"));
  EXPECT_TRUE(Exists(Path("nouveau.txt")));
  EXPECT_FALSE(Exists(Path("ancien.txt")));
}

TEST_F(ProviderMenu, TrashMovesTheItemIntoTheUsersTrash) {
  WhenReady([] { return Choose(QStringLiteral("Mettre à la corbeille")); });
  EXPECT_TRUE(MenuOn("ancien.txt"));
  EXPECT_FALSE(Exists(Path("ancien.txt")));
  const std::string trash = std::string(getenv("XDG_DATA_HOME")) + "/Trash";
  EXPECT_TRUE(Exists(trash + "/files/ancien.txt"));
  EXPECT_TRUE(Exists(trash + "/info/ancien.txt.trashinfo"));
  EXPECT_TRUE(Messages.empty());
  DeleteEntryNoFollow(trash + "/files/ancien.txt");
  DeleteEntryNoFollow(trash + "/info/ancien.txt.trashinfo");
}

TEST_F(ProviderMenu, PropertiesShowsTheItemsFacts) {
  QString name, size, type, location, permissions;
  WhenReady([&] {
    if (!Choose(QStringLiteral("Propriétés"))) return false;
    WhenReady([&] {
      auto *w = dynamic_cast<TPropertiesWindow *>(QApplication::activeModalWidget());
      if (!w || !w->isVisible()) return false;
      name = w->Value("PropName");
      size = w->Value("PropSize");
      type = w->Value("PropType");
      location = w->Value("PropLocation");
      permissions = w->Value("PropPermissions");
      EXPECT_EQ(w->windowTitle(), QStringLiteral("Propriétés de ancien.txt"));
      QTest::keyClick(w, Qt::Key_Escape);
      return true;
    });
    return true;
  });
  EXPECT_TRUE(MenuOn("ancien.txt"));
  EXPECT_EQ(name, QStringLiteral("ancien.txt"));
  EXPECT_EQ(size, QStringLiteral("5 octets"));
  EXPECT_FALSE(type.isEmpty());
  EXPECT_EQ(location, QString::fromStdString(fRoot));
  EXPECT_TRUE(permissions.startsWith(QStringLiteral("rw")));
}

TEST_F(ProviderMenu, CopyPathPutsThePathOnTheClipboard) {
  WhenReady([] { return Choose(QStringLiteral("Copier le chemin")); });
  EXPECT_TRUE(MenuOn("dossier"));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), Path("dossier"));
}

TEST_F(ProviderMenu, TheDrivesFolderHasNoCommands) {
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  LPITEMIDLIST drives = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
  // No menu opens: an empty menu is not shown, and nothing runs.
  EXPECT_TRUE(ShowItemContextMenu(desktop.get(), {drives}, QPoint(5, 5), &fOwner));
  Free(drives);
}
