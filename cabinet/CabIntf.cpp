#include "cabinet/CabIntf.h"

#include "platform/DynLib.h"
#include "platform/Exceptions.h"

#include <atomic>
#include <mutex>

namespace plm::CabIntf {

PFN_FCICreate FCICreate = nullptr;
PFN_FCIAddFile FCIAddFile = nullptr;
PFN_FCIFlushCabinet FCIFlushCabinet = nullptr;
PFN_FCIFlushFolder FCIFlushFolder = nullptr;
PFN_FCIDestroy FCIDestroy = nullptr;
PFN_FDICreate FDICreate = nullptr;
PFN_FDIIsCabinet FDIIsCabinet = nullptr;
PFN_FDICopy FDICopy = nullptr;
PFN_FDIDestroy FDIDestroy = nullptr;

const CABBOOL CabBool[2] = {0, 1};

namespace {

// Threads that unpack at once may each be the first user: one of them loads the library,
// the others wait for it, and none sees the library as loaded before its nine names are.
struct Binding {
  std::mutex mutex;
  std::atomic<bool> ready{false}; // set once the nine names are resolved
  LibraryHandle handle = nullptr;
  std::string name = DefaultLibraryName;
  ~Binding() { Unload(); }
  // Under the mutex.
  void Unload() {
    ready.store(false, std::memory_order_release);
    FCICreate = nullptr;
    FCIAddFile = nullptr;
    FCIFlushCabinet = nullptr;
    FCIFlushFolder = nullptr;
    FCIDestroy = nullptr;
    FDICreate = nullptr;
    FDIIsCabinet = nullptr;
    FDICopy = nullptr;
    FDIDestroy = nullptr;
    if (handle) FreeSharedLibrary(handle);
    handle = nullptr;
  }
};

Binding &State() {
  static Binding b;
  return b;
}

template <typename Fn> void Resolve(Binding &b, const char *name, Fn &target) {
  std::string error;
  void *p = GetLibrarySymbol(b.handle, name, error);
  if (!p) {
    b.Unload();
    throw EOSError(ERROR_PROC_NOT_FOUND, error);
  }
  target = reinterpret_cast<Fn>(p);
}

} // namespace

bool LibraryLoaded() { return State().ready.load(std::memory_order_acquire); }

void LoadCabinetLibrary() {
  Binding &b = State();
  if (b.ready.load(std::memory_order_acquire)) return;
  const std::lock_guard lock(b.mutex);
  if (b.ready.load(std::memory_order_relaxed)) return;
  std::string error;
  b.handle = LoadSharedLibrary(b.name, error);
  if (!b.handle) throw EOSError(ERROR_MOD_NOT_FOUND, error);
  Resolve(b, "FCICreate", FCICreate);
  Resolve(b, "FCIAddFile", FCIAddFile);
  Resolve(b, "FCIFlushCabinet", FCIFlushCabinet);
  Resolve(b, "FCIFlushFolder", FCIFlushFolder);
  Resolve(b, "FCIDestroy", FCIDestroy);
  Resolve(b, "FDICreate", FDICreate);
  Resolve(b, "FDIIsCabinet", FDIIsCabinet);
  Resolve(b, "FDICopy", FDICopy);
  Resolve(b, "FDIDestroy", FDIDestroy);
  b.ready.store(true, std::memory_order_release);
}

void UnloadCabinetLibrary() {
  Binding &b = State();
  const std::lock_guard lock(b.mutex);
  b.Unload();
}

void SetLibraryName(const std::string &fileName) {
  Binding &b = State();
  const std::lock_guard lock(b.mutex);
  b.name = fileName;
}

const std::string &LibraryName() { return State().name; }

} // namespace plm::CabIntf
