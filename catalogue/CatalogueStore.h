#pragma once
// The catalogue's database: one SQLite file (WAL, a busy timeout, a schema version),
// entries keyed by the path's bytes, and a full-text index over the file name and the
// text fields. Any SQLite failure raises ECatalogueStore, which says whether the file
// should be rebuilt (damaged, foreign, another version) or bypassed (locked, unwritable).
#include "catalogue/Interrupted.h"
#include "catalogue/TemplateRecord.h"
#include "platform/Exceptions.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <functional>
#include <string_view>
#include <vector>

struct sqlite3;

namespace plm {

class ECatalogueStore : public Exception {
public:
  ECatalogueStore(std::string message, bool damaged)
      : Exception(std::move(message)), Damaged(damaged) {}
  bool Damaged; // the file is not a catalogue this program can use: rebuild it
};

// An entry's content.
struct StoredDuplicate {
  std::string path, fingerprint;
  int64_t contentBytes = 0;
  FileStamp stamp;
};

class TCatalogueStore {
public:
  // Opens (creating) the file; ":memory:" gives a private database in memory. Raises
  // ECatalogueStore; Damaged when the file is not this program's catalogue.
  // lockWaitMs: how long a write waits for another program's write to end.
  explicit TCatalogueStore(const std::string &fileName, int lockWaitMs = kDefaultLockWaitMs);
  static constexpr int kDefaultLockWaitMs = 5000;
  ~TCatalogueStore();
  TCatalogueStore(const TCatalogueStore &) = delete;
  TCatalogueStore &operator=(const TCatalogueStore &) = delete;

  // While the flag is set, a statement under way stops soon and raises
  // ECatalogueInterrupted; nullptr lets statements run to their end.
  void SetInterrupt(const std::atomic<bool> *flag);

  // Removes a database file with its journal files.
  static void RemoveFiles(const std::string &fileName);

  // The stamps of the entries of a folder (and of its subfolders when recursive), in the
  // order of their paths' bytes; the path is valid during the call only.
  void ForEachStamp(const std::string &folder, bool recursive,
                    const std::function<void(std::string_view path, FileStamp)> &fn);

  // Within a TWriteTransaction.
  void Put(const TemplateRecord &record);
  void Remove(const std::string &path);

  // The entries of the folder (and its subfolders) whose index matches the full-text
  // query (every entry when it is empty), by path. missingFontOnly keeps the readable
  // entries whose font is named and not installed; problemsOnly those with problems.
  // Each entry comes with its fingerprint and problems.
  std::vector<TemplateRecord> Find(const std::string &ftsQuery, const std::string &folder,
                                   bool recursive, bool missingFontOnly, bool withPictures,
                                   bool problemsOnly = false);
  // The entries of the folder (and its subfolders) that have problems, each with its
  // path and problems alone, by path.
  std::vector<TemplateRecord> FindProblems(const std::string &folder, bool recursive);
  // The entries of the folder (and its subfolders) that have a fingerprint.
  std::vector<StoredDuplicate> Fingerprints(const std::string &folder, bool recursive);
  // Those of them whose fingerprint is one of these (by the fingerprints' index).
  std::vector<StoredDuplicate> Sharing(const std::vector<std::string> &fingerprints,
                                       const std::string &folder, bool recursive);
  // The same, path by path, each valid during the call only.
  void ForEachSharing(const std::vector<std::string> &fingerprints, const std::string &folder,
                      bool recursive,
                      const std::function<void(const std::string &fingerprint,
                                               std::string_view path)> &fn);

private:
  friend class TWriteTransaction;
  // One write transaction (taken at once, so that two writers queue instead of failing).
  void Begin();
  void Commit();
  void Rollback() noexcept;

  void Exec(const char *sql);
  [[noreturn]] void Fail(const char *what);
  void Prepare();

  sqlite3 *fDb = nullptr;
  int fLockWaitMs = kDefaultLockWaitMs;
};

// A write transaction of the store: begun when made, rolled back when it ends without a
// Commit, so that no way out of the code (an exception included) leaves one open.
class TWriteTransaction {
public:
  explicit TWriteTransaction(TCatalogueStore &store) : fStore(store) { fStore.Begin(); }
  ~TWriteTransaction() {
    if (fOpen) fStore.Rollback();
  }
  TWriteTransaction(const TWriteTransaction &) = delete;
  TWriteTransaction &operator=(const TWriteTransaction &) = delete;

  void Commit() {
    fStore.Commit();
    fOpen = false;
  }
  // Keeps what is written so far and goes on in a new transaction.
  void CommitAndGoOn() {
    Commit();
    fStore.Begin();
    fOpen = true;
  }

private:
  TCatalogueStore &fStore;
  bool fOpen = true;
};

// The full-text query for what the user typed: each word a quoted string matched as a
// prefix, all words required; empty when nothing searchable was typed.
std::string FtsQueryFor(const std::string &userText);

} // namespace plm
