// The shell allocator: every identifier list and returned name comes from here, and it
// knows the extent of each block it handed out, so list walks can be bounded by it.
#include "platform/shell/ShellApi.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <map>
#include <mutex>

namespace plm {

namespace {

// Block starts looked up recently by this thread; sorting asks for the same lists
// again and again, and a hit needs no lock.
struct TKnownBlock {
  uintptr_t Start = 0;
  size_t Size = 0;
  uint64_t Generation = 0;
};
constexpr size_t kKnownBlocks = 8192;
size_t SlotOf(uintptr_t a) { return (a >> 4) % kKnownBlocks; }
TKnownBlock &KnownSlot(uintptr_t a) {
  thread_local std::unique_ptr<TKnownBlock[]> known(new TKnownBlock[kKnownBlocks]);
  return known[SlotOf(a)];
}

// Counts the frees of the blocks starting in each slot: a block remembered under an
// older count may be gone. Counted by slot, not for the whole allocator, so that the
// frees of a refresh (every item it reads replaces one) leave other lists remembered.
std::atomic<uint64_t> gGenerations[kKnownBlocks];
std::atomic<uint64_t> &GenerationOf(uintptr_t a) { return gGenerations[SlotOf(a)]; }
void Forget(const void *block) {
  GenerationOf(reinterpret_cast<uintptr_t>(block)).fetch_add(1, std::memory_order_release);
}

class TShellMalloc final : public IMalloc {
public:
  HRESULT QueryInterface(const IID &iid, void **out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMalloc) {
      *out = static_cast<IMalloc *>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One allocator for the process; references are counted for form's sake only.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  void *Alloc(size_t cb) override {
    void *p = std::malloc(cb ? cb : 1);
    if (!p) return nullptr;
    std::lock_guard lock(fMutex);
    fBlocks[reinterpret_cast<uintptr_t>(p)] = cb;
    return p;
  }
  void *Realloc(void *pv, size_t cb) override {
    if (!pv) return Alloc(cb);
    if (cb == 0) {
      Free(pv);
      return nullptr;
    }
    std::lock_guard lock(fMutex);
    auto it = fBlocks.find(reinterpret_cast<uintptr_t>(pv));
    if (it == fBlocks.end()) return nullptr;
    void *q = std::realloc(pv, cb);
    if (!q) return nullptr;
    fBlocks.erase(it);
    fBlocks[reinterpret_cast<uintptr_t>(q)] = cb;
    Forget(pv);
    return q;
  }
  void Free(void *pv) override {
    if (!pv) return;
    {
      std::lock_guard lock(fMutex);
      auto it = fBlocks.find(reinterpret_cast<uintptr_t>(pv));
      if (it == fBlocks.end()) return; // not ours: never hand foreign memory to free()
      fBlocks.erase(it);
      Forget(pv);
    }
    std::free(pv);
  }
  size_t GetSize(void *pv) override {
    std::lock_guard lock(fMutex);
    auto it = fBlocks.find(reinterpret_cast<uintptr_t>(pv));
    return it == fBlocks.end() ? static_cast<size_t>(-1) : it->second;
  }
  int DidAlloc(void *pv) override {
    if (!pv) return -1;
    std::lock_guard lock(fMutex);
    return fBlocks.count(reinterpret_cast<uintptr_t>(pv)) ? 1 : 0;
  }
  void HeapMinimize() override {}

  size_t BlockCount() {
    std::lock_guard lock(fMutex);
    return fBlocks.size();
  }

  size_t BytesAvailable(const void *p) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    TKnownBlock &known = KnownSlot(a);
    if (known.Start == a && known.Generation == GenerationOf(a).load(std::memory_order_acquire))
      return known.Size;
    std::lock_guard lock(fMutex);
    if (auto exact = fBlocks.find(a); exact != fBlocks.end()) {
      known = {a, exact->second, GenerationOf(a).load(std::memory_order_relaxed)};
      return exact->second;
    }
    auto it = fBlocks.upper_bound(a);
    if (it == fBlocks.begin()) return SIZE_MAX;
    --it;
    if (a != it->first && a >= it->first + it->second) return SIZE_MAX;
    return it->first + it->second - a;
  }

private:
  std::mutex fMutex;
  std::map<uintptr_t, size_t> fBlocks; // start -> size, ordered to find interior pointers
};

TShellMalloc &TheMalloc() {
  static TShellMalloc *m = new TShellMalloc; // lives as long as the process
  return *m;
}

} // namespace

HRESULT SHGetMalloc(IMalloc **ppMalloc) {
  if (!ppMalloc) return E_POINTER;
  *ppMalloc = &TheMalloc();
  return S_OK;
}

size_t SHMallocBlockCount() { return TheMalloc().BlockCount(); }

size_t SHBytesAvailable(const void *p) { return p ? TheMalloc().BytesAvailable(p) : 0; }

} // namespace plm
