// Identifier-list helpers on lists built byte by byte, and display names in every form.
#include "platform/Exceptions.h"
#include "shelltree/Pidl.h"
#include "tests/shelltree/ShellFixture.h"

#include <cstring>

using namespace plm;
using shelltest::Bytes;
using shelltest::Free;

namespace {

IMalloc *Malloc() {
  IMalloc *m;
  SHGetMalloc(&m);
  return m;
}

// Items: size 4 "ab", size 2 (no data), size 5 "xyz"; then the terminator.
std::vector<uint8_t> ThreeItems() { return {4, 0, 'a', 'b', 2, 0, 5, 0, 'x', 'y', 'z', 0, 0}; }

} // namespace

TEST(Allocator, KnowsItsOwnBlocksOnly) {
  IMalloc *m = Malloc();
  void *p = m->Alloc(10);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(m->DidAlloc(p), 1);
  EXPECT_EQ(m->GetSize(p), 10u);
  int local = 0;
  EXPECT_EQ(m->DidAlloc(&local), 0);
  EXPECT_EQ(m->GetSize(&local), static_cast<size_t>(-1));
  EXPECT_EQ(m->DidAlloc(nullptr), -1);
  EXPECT_EQ(m->DidAlloc(static_cast<char *>(p) + 1), 0); // inside a block is not a block
  EXPECT_EQ(SHBytesAvailable(static_cast<char *>(p) + 4), 6u);
  m->Free(&local); // foreign memory is left alone
  m->Free(p);
  EXPECT_EQ(m->DidAlloc(p), 0);
}

// The extent of a block is remembered between questions; a block freed and another made
// in its place (the allocator often hands the same address out again) must not be
// taken for the old one, whatever else was or was not freed meanwhile.
TEST(Allocator, ABlockMadeWhereAnotherWasFreedHasItsOwnExtent) {
  IMalloc *m = Malloc();
  void *keep = m->Alloc(16);
  for (int round = 0; round < 3; ++round) {
    void *p = m->Alloc(20);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(SHBytesAvailable(p), 20u);
    EXPECT_EQ(SHBytesAvailable(keep), 16u);
    m->Free(p);
    void *q = m->Alloc(24);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(SHBytesAvailable(q), 24u) << (q == p ? "at the freed block's address" : "elsewhere");
    EXPECT_EQ(SHBytesAvailable(keep), 16u);
    void *r = m->Realloc(q, 28);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(SHBytesAvailable(r), 28u);
    m->Free(r);
  }
  m->Free(keep);
}

TEST(PidlCount, NullEmptyAndThreeItems) {
  EXPECT_EQ(PidlItemCount(nullptr), 0);
  EXPECT_EQ(PidlSize(nullptr), 0u);
  LPITEMIDLIST empty = Bytes({0, 0});
  EXPECT_EQ(PidlItemCount(empty), 0);
  EXPECT_EQ(PidlSize(empty), 0u);
  LPITEMIDLIST three = Bytes(ThreeItems());
  EXPECT_EQ(PidlItemCount(three), 3);
  EXPECT_EQ(PidlSize(three), 11u);
  Free(empty);
  Free(three);
}

TEST(PidlCount, NeverReadsPastTheBlockWhateverTheBytesSay) {
  // No terminator: the walk stops at the end of the block.
  LPITEMIDLIST unterminated = Bytes({4, 0, 'a', 'b', 3, 0, 'c'});
  EXPECT_EQ(PidlItemCount(unterminated), 2);
  // A size field claiming more bytes than the block holds is not an item.
  LPITEMIDLIST overlong = Bytes({4, 0, 'a', 'b', 0xFF, 0x7F, 'c', 0, 0});
  EXPECT_EQ(PidlItemCount(overlong), 1);
  EXPECT_EQ(PidlSize(overlong), 4u);
  // A size field cut in two by the end of the block.
  LPITEMIDLIST torn = Bytes({4, 0, 'a', 'b', 9});
  EXPECT_EQ(PidlItemCount(torn), 1);
  // A size of 1 cannot hold its own size field.
  LPITEMIDLIST bogus = Bytes({1, 0, 0, 0});
  EXPECT_EQ(PidlItemCount(bogus), 0);
  LPITEMIDLIST copy = PidlCopy(Malloc(), overlong);
  EXPECT_EQ(Malloc()->GetSize(copy), 6u); // the whole item and a terminator of its own
  EXPECT_EQ(copy[4], 0);
  EXPECT_EQ(copy[5], 0);
  for (LPITEMIDLIST p : {unterminated, overlong, torn, bogus, copy}) Free(p);
}

TEST(PidlCopy, DuplicatesWithTerminatorAndLeavesNullAlone) {
  EXPECT_EQ(PidlCopy(Malloc(), nullptr), nullptr);
  LPITEMIDLIST empty = Bytes({0, 0});
  LPITEMIDLIST c = PidlCopy(Malloc(), empty);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(Malloc()->GetSize(c), 2u);
  EXPECT_EQ(c[0] | c[1], 0);
  LPITEMIDLIST three = Bytes(ThreeItems());
  LPITEMIDLIST c3 = PidlCopy(Malloc(), three);
  EXPECT_EQ(std::memcmp(c3, three, 13), 0);
  for (LPITEMIDLIST p : {empty, c, three, c3}) Free(p);
}

TEST(PidlCopy, OutOfMemoryRaises) {
  struct Empty : TComObject<IMalloc> {
    HRESULT QueryInterface(const IID &, void **) override { return E_NOINTERFACE; }
    void *Alloc(size_t) override { return nullptr; }
    void *Realloc(void *, size_t) override { return nullptr; }
    void Free(void *) override {}
    size_t GetSize(void *) override { return size_t(-1); }
    int DidAlloc(void *) override { return 0; }
    void HeapMinimize() override {}
  };
  auto *m = new Empty;
  LPITEMIDLIST three = Bytes(ThreeItems());
  EXPECT_THROW(PidlCopy(m, three), EOutOfMemory);
  EXPECT_THROW(PidlAppend(m, nullptr, three), EOutOfMemory);
  Free(three);
  m->Release();
}

TEST(PidlFree, FreesOwnListsAndAlwaysClearsTheVariable) {
  LPITEMIDLIST p = Bytes({0, 0});
  PidlFree(Malloc(), p);
  EXPECT_EQ(p, nullptr);
  uint8_t stack[2] = {0, 0};
  LPITEMIDLIST q = stack;
  PidlFree(Malloc(), q); // not the allocator's: not freed, still cleared
  EXPECT_EQ(q, nullptr);
}

TEST(PidlRemoveLast, CutsOnlyListsOfTwoItemsOrMore) {
  LPITEMIDLIST one = Bytes({4, 0, 'a', 'b', 0, 0});
  EXPECT_FALSE(PidlRemoveLast(one));
  EXPECT_EQ(PidlItemCount(one), 1);
  LPITEMIDLIST three = Bytes(ThreeItems());
  EXPECT_TRUE(PidlRemoveLast(three));
  EXPECT_EQ(PidlItemCount(three), 2);
  EXPECT_EQ(PidlSize(three), 6u);
  LPITEMIDLIST empty = Bytes({0, 0});
  EXPECT_FALSE(PidlRemoveLast(empty));
  for (LPITEMIDLIST p : {one, three, empty}) Free(p);
}

TEST(PidlSameItem, ComparesSizesThenBytes) {
  LPITEMIDLIST a = Bytes({2, 0, 0, 0});
  LPITEMIDLIST b = Bytes({2, 0, 0, 0});
  EXPECT_TRUE(PidlSameItem(0, a, b)); // two items without data
  LPITEMIDLIST ab = Bytes({4, 0, 'a', 'b', 0, 0});
  LPITEMIDLIST abc = Bytes({5, 0, 'a', 'b', 'c', 0, 0});
  EXPECT_FALSE(PidlSameItem(0, ab, abc)); // a prefix is another item
  LPITEMIDLIST ax = Bytes({4, 0, 'a', 'x', 0, 0});
  EXPECT_FALSE(PidlSameItem(0, ab, ax));
  LPITEMIDLIST three = Bytes(ThreeItems());
  LPITEMIDLIST xyz = Bytes({5, 0, 'x', 'y', 'z', 0, 0});
  EXPECT_TRUE(PidlSameItem(2, three, xyz));
  EXPECT_FALSE(PidlSameItem(1, three, xyz));
  EXPECT_FALSE(PidlSameItem(5, three, xyz)); // fewer items than k
  for (LPITEMIDLIST p : {a, b, ab, abc, ax, three, xyz}) Free(p);
}

namespace {

// A folder that answers display names in a chosen form.
class NameFolder : public TComObject<IShellFolder> {
public:
  UINT Form = STRRET_CSTR;
  bool FailNormal = false;
  int Calls = 0;
  std::vector<SHGDNF> Flags;
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
  HRESULT GetUIObjectOf(HWND, UINT, const LPCITEMIDLIST *, const IID &, UINT *, void **) override { return E_NOTIMPL; }
  HRESULT SetNameOf(HWND, LPCITEMIDLIST, const char16_t *, SHGDNF, LPITEMIDLIST *) override { return E_NOTIMPL; }
  HRESULT GetDisplayNameOf(LPCITEMIDLIST, SHGDNF flags, STRRET *out) override {
    ++Calls;
    Flags.push_back(flags);
    if (flags == SHGDN_NORMAL && FailNormal) return E_FAIL;
    const std::string text = flags & SHGDN_FORPARSING ? "/parsing/name" : "normal";
    if (Form == STRRET_WSTR) {
      IMalloc *m;
      SHGetMalloc(&m);
      const std::u16string w = WideFromBytes(text);
      out->pOleStr = static_cast<char16_t *>(m->Alloc((w.size() + 1) * 2));
      std::memcpy(out->pOleStr, w.c_str(), (w.size() + 1) * 2);
    } else if (Form == STRRET_OFFSET) {
      out->uOffset = 2; // the item's own bytes after its size field
    } else {
      std::strcpy(out->cStr, text.c_str());
    }
    out->uType = Form;
    return S_OK;
  }
};

} // namespace

TEST(DisplayNameOf, ReadsEachRecordForm) {
  auto *f = new NameFolder;
  LPITEMIDLIST item = Bytes({7, 0, 'i', 't', 'e', 'm', 0, 0, 0});
  f->Form = STRRET_CSTR;
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_NORMAL), "normal");
  f->Form = STRRET_WSTR;
  const size_t before = SHMallocBlockCount();
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_NORMAL), "normal");
  EXPECT_EQ(SHMallocBlockCount(), before); // the wide string went back to the allocator
  f->Form = STRRET_OFFSET;
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_NORMAL), "item");
  Free(item);
  f->Release();
}

TEST(DisplayNameOf, FallsBackToTheParsingNameForFlagsZeroOnly) {
  auto *f = new NameFolder;
  LPITEMIDLIST item = Bytes({4, 0, 'a', 0, 0, 0});
  f->FailNormal = true;
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_NORMAL), "/parsing/name");
  ASSERT_EQ(f->Flags.size(), 2u);
  EXPECT_EQ(f->Flags[1], SHGDN_FORPARSING);
  f->Flags.clear();
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_FORPARSING), "/parsing/name");
  EXPECT_EQ(f->Flags.size(), 1u); // a single call
  f->Flags.clear();
  EXPECT_EQ(DisplayNameOf(f, item, SHGDN_INFOLDER), "normal");
  Free(item);
  f->Release();
}

TEST(DisplayNameOf, AnOffsetOutsideTheItemGivesNoName) {
  auto *f = new NameFolder;
  f->Form = STRRET_OFFSET;
  LPITEMIDLIST tiny = Bytes({2, 0, 0, 0}); // offset 2 is past this item
  EXPECT_EQ(DisplayNameOf(f, tiny, SHGDN_INFOLDER), "");
  Free(tiny);
  f->Release();
}

TEST(WideNames, EveryByteSequenceSurvivesTheRoundTrip) {
  for (const std::string &s : {std::string("plain"), std::string("été"), std::string("\xff\xfe"),
                              std::string("a\xe9z"), std::string("\xf0\x9f\x93\x81 emoji"),
                              std::string("\xed\xa0\x80")}) {
    EXPECT_EQ(BytesFromWide(WideFromBytes(s)), s);
  }
  EXPECT_EQ(WideFromBytes("é"), u"é");
}
