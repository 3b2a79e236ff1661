#include "catalogue/CatalogueStore.h"

#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <sqlite3.h>

#include <cctype>

namespace plm {

namespace {

// Marks the file as this program's catalogue; the version changes with the schema.
constexpr int kApplicationId = 0x504C4D43; // "PLMC"
// 2: the content's fingerprint and the problems found when reading.
constexpr int kSchemaVersion = 2;

const char *const kSchema = R"sql(
CREATE TABLE templates(
  id INTEGER PRIMARY KEY,
  path BLOB NOT NULL UNIQUE,
  folder BLOB NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,
  collection TEXT, display TEXT, trademark TEXT,
  font TEXT, font_installed INTEGER NOT NULL DEFAULT 0,
  title TEXT,
  failure TEXT,
  fingerprint BLOB,
  content_bytes INTEGER NOT NULL DEFAULT 0);
CREATE INDEX templates_folder ON templates(folder);
CREATE INDEX templates_stamp ON templates(path, size, mtime);
CREATE INDEX templates_fingerprint ON templates(fingerprint) WHERE fingerprint IS NOT NULL;
CREATE TABLE problems(
  template INTEGER NOT NULL,
  code TEXT NOT NULL, text TEXT NOT NULL, name TEXT);
CREATE INDEX problems_template ON problems(template);
CREATE TABLE pictures(
  template INTEGER NOT NULL,
  name TEXT, type TEXT, bytes INTEGER, width INTEGER, height INTEGER);
CREATE INDEX pictures_template ON pictures(template);
CREATE VIRTUAL TABLE search USING fts5(
  name, collection, display, trademark, font, title, pictures,
  tokenize = "unicode61 remove_diacritics 2");
)sql";

// From version 1: the new columns and table; every entry is read again at the next update
// of its folder (its stamp no longer matches), and stays searchable meanwhile.
const char *const kUpgradeFrom1 = R"sql(
ALTER TABLE templates ADD COLUMN fingerprint BLOB;
ALTER TABLE templates ADD COLUMN content_bytes INTEGER NOT NULL DEFAULT 0;
CREATE INDEX templates_fingerprint ON templates(fingerprint) WHERE fingerprint IS NOT NULL;
CREATE TABLE problems(
  template INTEGER NOT NULL,
  code TEXT NOT NULL, text TEXT NOT NULL, name TEXT);
CREATE INDEX problems_template ON problems(template);
UPDATE templates SET size = -1;
)sql";

// How much of the file is read through a memory mapping (the rest is read as usual).
constexpr const char *kMapSize = "PRAGMA mmap_size=268435456";

// How often a new file's journal mode is asked again while another program holds it.
constexpr int kJournalRetryMs = 5;

bool DamagedCode(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_SCHEMA ||
         primary == SQLITE_FORMAT;
}

// A prepared statement, finalized with its owner.
class Stmt {
public:
  Stmt(sqlite3 *db, const char *sql) : fDb(db) {
    if (const int rc = sqlite3_prepare_v2(db, sql, -1, &fStmt, nullptr); rc != SQLITE_OK)
      Throw(rc);
  }
  ~Stmt() { sqlite3_finalize(fStmt); }
  Stmt(const Stmt &) = delete;
  Stmt &operator=(const Stmt &) = delete;

  Stmt &Blob(int i, const std::string &s) {
    Check(sqlite3_bind_blob(fStmt, i, s.data(), int(s.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Stmt &Text(int i, const std::string &s) {
    Check(sqlite3_bind_text(fStmt, i, s.data(), int(s.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Stmt &Int(int i, int64_t v) {
    Check(sqlite3_bind_int64(fStmt, i, v));
    return *this;
  }
  Stmt &Null(int i) {
    Check(sqlite3_bind_null(fStmt, i));
    return *this;
  }
  // True while there is a row.
  bool Step() {
    const int rc = sqlite3_step(fStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Throw(rc);
    return false;
  }
  void Run() {
    while (Step()) {
    }
  }
  void Reset() { sqlite3_reset(fStmt); }
  std::string Bytes(int col) const {
    const void *p = sqlite3_column_blob(fStmt, col);
    const int n = sqlite3_column_bytes(fStmt, col);
    return p ? std::string(static_cast<const char *>(p), size_t(n)) : std::string();
  }
  std::string_view View(int col) const {
    const void *p = sqlite3_column_blob(fStmt, col);
    const int n = sqlite3_column_bytes(fStmt, col);
    return p ? std::string_view(static_cast<const char *>(p), size_t(n)) : std::string_view();
  }
  int64_t Int(int col) const { return sqlite3_column_int64(fStmt, col); }
  bool IsNull(int col) const { return sqlite3_column_type(fStmt, col) == SQLITE_NULL; }

private:
  void Check(int rc) {
    if (rc != SQLITE_OK) Throw(rc);
  }
  [[noreturn]] void Throw(int rc) {
    if ((rc & 0xFF) == SQLITE_INTERRUPT) throw ECatalogueInterrupted("Catalogue : interrompu");
    throw ECatalogueStore(std::string("Catalogue : ") + sqlite3_errmsg(fDb), DamagedCode(rc));
  }
  sqlite3 *fDb;
  sqlite3_stmt *fStmt = nullptr;
};

std::string FolderOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string PicturesText(const std::vector<CataloguePicture> &pictures) {
  std::string s;
  for (const auto &p : pictures)
    s += (s.empty() ? "" : " ") + p.name;
  return s;
}

// The condition on the column "folder" for a folder and, when recursive, its subfolders;
// parameters ?1 to ?3, bound by BindFolder.
const char *FolderCondition(const std::string &folder, bool recursive) {
  if (!recursive) return "t.folder = ?1";
  if (folder == "/") return "1";
  // Below the folder: after "folder/" and before "folder0" ("0" follows "/").
  return "(t.folder = ?1 OR (t.folder >= ?2 AND t.folder < ?3))";
}

void BindFolder(Stmt &s, const std::string &folder, bool recursive) {
  if (!recursive)
    s.Blob(1, folder);
  else if (folder != "/")
    s.Blob(1, folder).Blob(2, folder + "/").Blob(3, folder + "0");
}

} // namespace

std::string FtsQueryFor(const std::string &userText) {
  std::string query;
  size_t i = 0;
  while (i < userText.size()) {
    while (i < userText.size() && std::isspace(static_cast<unsigned char>(userText[i])))
      ++i;
    size_t end = i;
    bool searchable = false;
    while (end < userText.size() && !std::isspace(static_cast<unsigned char>(userText[end]))) {
      const unsigned char c = static_cast<unsigned char>(userText[end]);
      if (c >= 0x80 || std::isalnum(c)) searchable = true;
      ++end;
    }
    if (searchable) {
      // A string to the query language: its quotes doubled, nothing in it is syntax.
      std::string word = "\"";
      for (size_t k = i; k < end; ++k) {
        if (userText[k] == '"') word += '"';
        word += userText[k];
      }
      query += (query.empty() ? "" : " AND ") + word + "\"*";
    }
    i = end;
  }
  return query;
}

TCatalogueStore::TCatalogueStore(const std::string &fileName, int lockWaitMs)
    : fLockWaitMs(lockWaitMs) {
  const bool memory = fileName == ":memory:";
  if (!memory) ForceDirectories(ExtractFilePath(fileName));
  // A connection is given even when the opening fails; the destructor won't run then.
  try {
    const int rc = sqlite3_open_v2(fileName.c_str(), &fDb,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                       SQLITE_OPEN_NOMUTEX, // one thread at a time
                                   nullptr);
    if (rc != SQLITE_OK) Fail("ouverture");
    sqlite3_busy_timeout(fDb, lockWaitMs);
    Prepare();
    // Read through a mapping of the file: a search of a large tree reads a page for each
    // template found, some thousands, which would otherwise each be copied out of the
    // system's cache into the connection's own, and read again by the next connection.
    // Only the catalogue's own connections change the file, and they never cut it short
    // under another's mapping; a file removed while mapped stays readable until closed.
    Exec(kMapSize);
  } catch (...) {
    sqlite3_close_v2(fDb);
    throw;
  }
}

TCatalogueStore::~TCatalogueStore() { sqlite3_close_v2(fDb); }

void TCatalogueStore::SetInterrupt(const std::atomic<bool> *flag) {
  // Asked every so many steps of the statement's program: a few microseconds apart.
  constexpr int kStepsBetweenLooks = 1000;
  if (!flag) {
    sqlite3_progress_handler(fDb, 0, nullptr, nullptr);
    return;
  }
  sqlite3_progress_handler(
      fDb, kStepsBetweenLooks,
      [](void *f) { return static_cast<const std::atomic<bool> *>(f)->load() ? 1 : 0; },
      const_cast<std::atomic<bool> *>(flag));
}

void TCatalogueStore::RemoveFiles(const std::string &fileName) {
  for (const char *suffix : {"", "-wal", "-shm", "-journal"})
    DeleteFile(fileName + suffix);
}

void TCatalogueStore::Fail(const char *what) {
  const int rc = fDb ? sqlite3_extended_errcode(fDb) : SQLITE_CANTOPEN;
  throw ECatalogueStore(std::string("Catalogue (") + what + ") : " +
                            (fDb ? sqlite3_errmsg(fDb) : "mémoire épuisée"),
                        DamagedCode(rc));
}

void TCatalogueStore::Exec(const char *sql) {
  if (sqlite3_exec(fDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail("requête");
}

void TCatalogueStore::Prepare() {
  auto pragma = [&](const char *sql) {
    Stmt s(fDb, sql);
    return s.Step() ? s.Int(0) : 0;
  };
  // Read before anything is written: a file that is not a database fails here.
  if (pragma("PRAGMA application_id") == kApplicationId &&
      pragma("PRAGMA user_version") == kSchemaVersion) {
    // The file keeps its journal mode (WAL, set when it was made).
    Exec("PRAGMA synchronous=NORMAL");
    return;
  }
  // Turning a new file to WAL needs it alone, and SQLite does not wait for that lock as it
  // does for a transaction: another program opening the same new file at the same moment
  // holds it for an instant. Asked again until the lock wait is over.
  for (int waited = 0;; waited += kJournalRetryMs) {
    const int rc = sqlite3_exec(fDb, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) break;
    if (((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) || waited >= fLockWaitMs)
      Fail("requête");
    sqlite3_sleep(kJournalRetryMs);
  }
  Exec("PRAGMA synchronous=NORMAL");
  TWriteTransaction transaction(*this);
  // Checked again under the write lock: another program may have made it meanwhile.
  const int64_t id = pragma("PRAGMA application_id");
  const int64_t version = pragma("PRAGMA user_version");
  if (id == kApplicationId && version == kSchemaVersion) {
    transaction.Commit();
    return;
  }
  if (id == kApplicationId && version == 1) {
    Exec(kUpgradeFrom1);
  } else if (id != 0 || version != 0 || pragma("SELECT count(*) FROM sqlite_master") != 0) {
    throw ECatalogueStore("Catalogue : le fichier n'est pas un catalogue de cette version.", true);
  } else {
    Exec(kSchema);
  }
  Exec(("PRAGMA application_id=" + std::to_string(kApplicationId) +
        "; PRAGMA user_version=" + std::to_string(kSchemaVersion))
           .c_str());
  transaction.Commit();
}

void TCatalogueStore::ForEachStamp(const std::string &folder, bool recursive,
                                   const std::function<void(std::string_view, FileStamp)> &fn) {
  // Below a folder, by the path's own index: its paths are those after "folder/" and
  // before "folder0", already in order.
  const char *sql = !recursive      ? "SELECT path, size, mtime FROM templates WHERE folder = ?1 "
                                      "ORDER BY path"
                    : folder == "/" ? "SELECT path, size, mtime FROM templates ORDER BY path"
                                    : "SELECT path, size, mtime FROM templates "
                                      "WHERE path >= ?2 AND path < ?3 ORDER BY path";
  Stmt s(fDb, sql);
  BindFolder(s, folder, recursive);
  while (s.Step())
    fn(s.View(0), FileStamp{s.Int(1), s.Int(2)});
}

void TCatalogueStore::Begin() { Exec("BEGIN IMMEDIATE"); }
void TCatalogueStore::Commit() { Exec("COMMIT"); }
void TCatalogueStore::Rollback() noexcept {
  if (!sqlite3_get_autocommit(fDb)) sqlite3_exec(fDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TCatalogueStore::Remove(const std::string &path) {
  Stmt find(fDb, "SELECT id FROM templates WHERE path = ?1");
  find.Blob(1, path);
  if (!find.Step()) return;
  const int64_t id = find.Int(0);
  Stmt(fDb, "DELETE FROM search WHERE rowid = ?1").Int(1, id).Run();
  Stmt(fDb, "DELETE FROM pictures WHERE template = ?1").Int(1, id).Run();
  Stmt(fDb, "DELETE FROM problems WHERE template = ?1").Int(1, id).Run();
  Stmt(fDb, "DELETE FROM templates WHERE id = ?1").Int(1, id).Run();
}

void TCatalogueStore::Put(const TemplateRecord &r) {
  Remove(r.path);
  Stmt ins(fDb, "INSERT INTO templates(path, folder, size, mtime, collection, display, "
                "trademark, font, font_installed, title, failure, fingerprint, content_bytes) "
                "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  ins.Blob(1, r.path).Blob(2, FolderOf(r.path)).Int(3, r.size).Int(4, r.mtimeNs);
  ins.Text(5, r.collection).Text(6, r.display).Text(7, r.trademark).Text(8, r.font);
  ins.Int(9, r.fontInstalled ? 1 : 0).Text(10, r.title);
  if (r.failure.empty())
    ins.Null(11);
  else
    ins.Text(11, r.failure);
  if (r.fingerprint.empty())
    ins.Null(12);
  else
    ins.Blob(12, r.fingerprint);
  ins.Int(13, r.contentBytes);
  ins.Run();
  const int64_t id = sqlite3_last_insert_rowid(fDb);
  for (const auto &p : r.problems) {
    Stmt q(fDb, "INSERT INTO problems VALUES(?1, ?2, ?3, ?4)");
    q.Int(1, id).Text(2, p.code).Text(3, p.text);
    if (p.name.empty())
      q.Null(4);
    else
      q.Text(4, p.name);
    q.Run();
  }
  for (const auto &p : r.pictures)
    Stmt(fDb, "INSERT INTO pictures VALUES(?1, ?2, ?3, ?4, ?5, ?6)")
        .Int(1, id)
        .Text(2, p.name)
        .Text(3, p.type)
        .Int(4, p.bytes)
        .Int(5, p.width)
        .Int(6, p.height)
        .Run();
  Stmt fts(fDb, "INSERT INTO search(rowid, name, collection, display, trademark, font, title, "
                "pictures) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  fts.Int(1, id).Text(2, ToDisplayUtf8(ExtractFileName(r.path)));
  fts.Text(3, r.collection).Text(4, r.display).Text(5, r.trademark).Text(6, r.font);
  fts.Text(7, r.title).Text(8, PicturesText(r.pictures)).Run();
}

std::vector<TemplateRecord> TCatalogueStore::Find(const std::string &ftsQuery,
                                                  const std::string &folder, bool recursive,
                                                  bool missingFontOnly, bool withPictures,
                                                  bool problemsOnly) {
  // Each entry with its problems, one row a problem (one row when it has none), the
  // problems by the index of their template: no pass over the problems of the whole folder.
  std::string sql = "SELECT t.id, t.path, t.size, t.mtime, t.collection, t.display, "
                    "t.trademark, t.font, t.font_installed, t.title, t.failure, "
                    "t.fingerprint, t.content_bytes, p.code, p.text, p.name ";
  // With words, the full-text index's matches lead (CROSS JOIN keeps that order) and only
  // they are looked at: a word among a whole tree of 100,000 no longer goes through every
  // template of the tree.
  if (!ftsQuery.empty())
    sql += "FROM search CROSS JOIN templates t ON t.id = search.rowid ";
  else
    sql += "FROM templates t ";
  sql += "LEFT JOIN problems p ON p.template = t.id WHERE ";
  if (!ftsQuery.empty()) sql += "search MATCH ?4 AND ";
  sql += FolderCondition(folder, recursive);
  if (problemsOnly) sql += " AND t.id IN (SELECT template FROM problems)";
  if (missingFontOnly) sql += " AND t.failure IS NULL AND t.font <> '' AND t.font_installed = 0";
  sql += " ORDER BY t.path, p.rowid";
  Stmt s(fDb, sql.c_str());
  BindFolder(s, folder, recursive);
  if (!ftsQuery.empty()) s.Text(4, ftsQuery);
  std::vector<TemplateRecord> found;
  std::vector<int64_t> ids;
  while (s.Step()) {
    const int64_t id = s.Int(0);
    if (ids.empty() || ids.back() != id) {
      TemplateRecord r;
      ids.push_back(id);
      r.path = s.Bytes(1);
      r.size = s.Int(2);
      r.mtimeNs = s.Int(3);
      r.collection = s.Bytes(4);
      r.display = s.Bytes(5);
      r.trademark = s.Bytes(6);
      r.font = s.Bytes(7);
      r.fontInstalled = s.Int(8) != 0;
      r.title = s.Bytes(9);
      r.failure = s.Bytes(10);
      r.fingerprint = s.Bytes(11);
      r.contentBytes = s.Int(12);
      found.push_back(std::move(r));
    }
    if (!s.IsNull(13)) found.back().problems.push_back({s.Bytes(13), s.Bytes(14), s.Bytes(15)});
  }
  if (withPictures) {
    Stmt q(fDb, "SELECT name, type, bytes, width, height FROM pictures WHERE template = ?1 "
                "ORDER BY rowid");
    for (size_t i = 0; i < found.size(); ++i) {
      q.Reset();
      q.Int(1, ids[i]);
      while (q.Step())
        found[i].pictures.push_back({q.Bytes(0), q.Bytes(1), q.Int(2), int32_t(q.Int(3)),
                                     int32_t(q.Int(4))});
    }
  }
  return found;
}

std::vector<StoredDuplicate> TCatalogueStore::Fingerprints(const std::string &folder,
                                                           bool recursive) {
  const std::string sql = std::string("SELECT t.path, t.fingerprint, t.content_bytes, t.size, t.mtime FROM "
                                      "templates t WHERE ") +
                          FolderCondition(folder, recursive) + " AND t.fingerprint IS NOT NULL";
  Stmt s(fDb, sql.c_str());
  BindFolder(s, folder, recursive);
  std::vector<StoredDuplicate> found;
  while (s.Step())
    found.push_back({s.Bytes(0), s.Bytes(1), s.Int(2), {s.Int(3), s.Int(4)}});
  return found;
}

std::vector<TemplateRecord> TCatalogueStore::FindProblems(const std::string &folder,
                                                          bool recursive) {
  const std::string sql = std::string("SELECT t.path, p.code, p.text, p.name FROM problems p "
                                      "JOIN templates t ON t.id = p.template WHERE ") +
                          FolderCondition(folder, recursive) + " ORDER BY t.path, p.rowid";
  Stmt s(fDb, sql.c_str());
  BindFolder(s, folder, recursive);
  std::vector<TemplateRecord> found;
  while (s.Step()) {
    if (found.empty() || found.back().path != s.View(0)) {
      found.emplace_back();
      found.back().path = s.Bytes(0);
    }
    found.back().problems.push_back({s.Bytes(1), s.Bytes(2), s.Bytes(3)});
  }
  return found;
}

namespace {

// Each entry of the folder (and its subfolders) whose fingerprint is one of these, by the
// fingerprints' index: the columns asked for, one row at a time.
template <class Row>
void EachSharing(sqlite3 *db, const char *columns, const std::vector<std::string> &fingerprints,
                 const std::string &folder, bool recursive, Row &&row) {
  const std::string sql = std::string("SELECT ") + columns +
                          " FROM templates t WHERE t.fingerprint = ?4 AND " +
                          FolderCondition(folder, recursive);
  Stmt s(db, sql.c_str());
  for (const auto &fingerprint : fingerprints) {
    s.Reset();
    BindFolder(s, folder, recursive);
    s.Blob(4, fingerprint);
    while (s.Step()) row(s, fingerprint);
  }
}

} // namespace

std::vector<StoredDuplicate> TCatalogueStore::Sharing(const std::vector<std::string> &fingerprints,
                                                      const std::string &folder, bool recursive) {
  std::vector<StoredDuplicate> found;
  EachSharing(fDb, "t.path, t.content_bytes, t.size, t.mtime", fingerprints, folder, recursive,
              [&](const Stmt &s, const std::string &fingerprint) {
                found.push_back({s.Bytes(0), fingerprint, s.Int(1), {s.Int(2), s.Int(3)}});
              });
  return found;
}

void TCatalogueStore::ForEachSharing(
    const std::vector<std::string> &fingerprints, const std::string &folder, bool recursive,
    const std::function<void(const std::string &fingerprint, std::string_view path)> &fn) {
  EachSharing(fDb, "t.path", fingerprints, folder, recursive,
              [&](const Stmt &s, const std::string &fingerprint) { fn(fingerprint, s.View(0)); });
}

} // namespace plm
