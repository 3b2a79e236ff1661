#pragma once
// Environment variables set for the life of a test fixture; the old values (or their
// absence) come back when it ends.
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plmtest {

class ScopedEnv {
public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;
  ~ScopedEnv() {
    for (auto it = fSaved.rbegin(); it != fSaved.rend(); ++it) {
      if (it->second)
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        ::unsetenv(it->first.c_str());
    }
  }

  void Set(const std::string &name, const std::string &value) {
    const char *old = std::getenv(name.c_str());
    fSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  // The single-instance guard's lock, socket and key store go to folders of the test,
  // so windows of parallel test processes never meet.
  void PrivateSession(const std::string &runtimeDir, const std::string &configDir) {
    Set("XDG_RUNTIME_DIR", runtimeDir);
    Set("XDG_CONFIG_HOME", configDir);
  }

private:
  std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

} // namespace plmtest
