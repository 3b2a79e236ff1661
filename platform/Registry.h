#pragma once
// TRegistry: the user's own key store, standing in for the per-user registry. Keys are
// paths of names separated by "\" ("\Software\Maker"), always taken from the store's
// root; each holds named values that are 32-bit integers or strings.
//
// On disk the store lives under $XDG_CONFIG_HOME (else ~/.config) in
// "plmlooker/registry", private to the user: a key "\A\B" is the file "A/B.key" there,
// one line "name=dword:XXXXXXXX" or "name=sz:text" per value. A write replaces the file
// in one step, so a reader never sees half of it. Names are matched exactly.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plm {

class TRegistry {
public:
  // The folder that holds the whole store.
  static std::string RootFolder();

  // Opens a key, making it (and the folders above it) first when canCreate is true.
  // False when the key is missing and not made, or its name is not a valid key path.
  bool OpenKey(const std::string &key, bool canCreate);
  void CloseKey();
  bool HasCurrentKey() const { return !fKeyFile.empty(); }

  bool KeyExists(const std::string &key) const;
  // Removes a key with its values and the keys below it; false when it was not there.
  bool DeleteKey(const std::string &key);

  bool ValueExists(const std::string &name) const;
  // Raise ERegistryException when the value is missing, of another kind, or no key is
  // open.
  int32_t ReadInteger(const std::string &name) const;
  std::string ReadString(const std::string &name) const;
  // Raise ERegistryException when the value cannot be stored.
  void WriteInteger(const std::string &name, int32_t value);
  void WriteString(const std::string &name, const std::string &value);

private:
  // The value lines of the open key, as name and "kind:data".
  using Values = std::vector<std::pair<std::string, std::string>>;
  Values Load() const;
  void Store(const std::string &name, const std::string &data);
  const std::string *Find(const Values &values, const std::string &name) const;

  std::string fKeyFile; // the open key's file; empty when none is open
};

} // namespace plm
