#include "platform/Registry.h"

#include "platform/AppPaths.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "platform/TempDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace plm {

namespace {

// "%XX" for every byte of the set and every control byte; the rest as it is.
std::string Escape(const std::string &s, const char *set) {
  std::string r;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || u == '%' || std::strchr(set, c)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", u);
      r += buf;
    } else {
      r += c;
    }
  }
  return r;
}

std::string Unescape(const std::string &s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigitValue(s[i + 1]) >= 0 &&
        HexDigitValue(s[i + 2]) >= 0) {
      r += char(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      r += s[i];
    }
  }
  return r;
}

// The key's file and the folder of the keys below it, or false for a name that is not a
// key path. Names never hold ".", so no key file ("x.key") is ever a key's folder.
bool KeyPaths(const std::string &key, std::string &file, std::string &subFolder) {
  std::string path = TRegistry::RootFolder();
  size_t start = key.empty() || key[0] != '\\' ? 0 : 1;
  if (start >= key.size()) return false;
  for (;;) {
    const size_t end = key.find('\\', start);
    const std::string part = key.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty()) return false;
    path += "/" + Escape(part, "./");
    if (end == std::string::npos) break;
    start = end + 1;
  }
  file = path + ".key";
  subFolder = path;
  return true;
}

// A key file itself, never a link planted in its place.
bool IsKeyFile(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string TRegistry::RootFolder() { return JoinPath({UserConfigDir(), "plmlooker", "registry"}); }

bool TRegistry::OpenKey(const std::string &key, bool canCreate) {
  CloseKey();
  std::string file, sub;
  if (!KeyPaths(key, file, sub)) return false;
  if (!IsKeyFile(file)) {
    if (!canCreate || !ForceDirectories(ExtractFilePath(file), 0700)) return false;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::close(fd);
    if (!IsKeyFile(file)) return false;
  }
  fKeyFile = file;
  return true;
}

void TRegistry::CloseKey() { fKeyFile.clear(); }

bool TRegistry::KeyExists(const std::string &key) const {
  std::string file, sub;
  return KeyPaths(key, file, sub) && IsKeyFile(file);
}

bool TRegistry::DeleteKey(const std::string &key) {
  std::string file, sub;
  if (!KeyPaths(key, file, sub) || !IsKeyFile(file)) return false;
  if (file == fKeyFile) CloseKey();
  if (DirectoryExists(sub) && !IsSymLink(sub)) DeleteEntryNoFollow(sub);
  return ::unlink(file.c_str()) == 0;
}

TRegistry::Values TRegistry::Load() const {
  Values values;
  std::string text;
  if (fKeyFile.empty() || !ReadFileBytes(fKeyFile, text)) return values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = Unescape(line.substr(0, eq));
    if (!Find(values, name)) values.emplace_back(name, line.substr(eq + 1));
  }
  return values;
}

const std::string *TRegistry::Find(const Values &values, const std::string &name) const {
  for (const auto &v : values)
    if (v.first == name) return &v.second;
  return nullptr;
}

void TRegistry::Store(const std::string &name, const std::string &data) {
  if (fKeyFile.empty()) throw ERegistryException("Aucune clé ouverte pour écrire '" + name + "'");
  Values values = Load();
  bool replaced = false;
  for (auto &v : values)
    if (v.first == name) {
      v.second = data;
      replaced = true;
    }
  if (!replaced) values.emplace_back(name, data);
  std::string text;
  for (const auto &[n, d] : values)
    text += Escape(n, "=") + "=" + d + "\n";
  if (WriteFileBytes(fKeyFile, text) != 0)
    throw ERegistryException("Impossible d'écrire la valeur '" + name + "'");
}

bool TRegistry::ValueExists(const std::string &name) const { return Find(Load(), name); }

int32_t TRegistry::ReadInteger(const std::string &name) const {
  const Values values = Load();
  const std::string *data = Find(values, name);
  if (!data) throw ERegistryException("Impossible de lire la valeur '" + name + "'");
  const std::string prefix = "dword:";
  if (data->size() != prefix.size() + 8 || data->compare(0, prefix.size(), prefix) != 0)
    throw ERegistryException("Type de données incorrect pour '" + name + "'");
  uint32_t v = 0;
  for (size_t i = prefix.size(); i < data->size(); ++i) {
    const int d = HexDigitValue((*data)[i]);
    if (d < 0) throw ERegistryException("Type de données incorrect pour '" + name + "'");
    v = v * 16 + uint32_t(d);
  }
  return int32_t(v);
}

std::string TRegistry::ReadString(const std::string &name) const {
  const Values values = Load();
  const std::string *data = Find(values, name);
  if (!data) throw ERegistryException("Impossible de lire la valeur '" + name + "'");
  if (data->compare(0, 3, "sz:") != 0)
    throw ERegistryException("Type de données incorrect pour '" + name + "'");
  return Unescape(data->substr(3));
}

void TRegistry::WriteInteger(const std::string &name, int32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", uint32_t(value));
  Store(name, std::string("dword:") + buf);
}

void TRegistry::WriteString(const std::string &name, const std::string &value) {
  Store(name, "sz:" + Escape(value, ""));
}

} // namespace plm
