#include "platform/Exceptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plm {

namespace {
std::string OsErrorText(int code, const std::string &systemText) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Erreur système.  Code : %d.\n", code);
  return buf + systemText;
}
} // namespace

EOSError::EOSError(int code, const std::string &systemText)
    : Exception(OsErrorText(code, systemText)), ErrorCode(code) {}

EOSError::EOSError() : Exception("Une fonction système a échoué") {}

void RaiseLastOSError(int code) {
  if (code == 0) throw EOSError();
  throw EOSError(code, std::strerror(code));
}

void RaiseLastOSError() { RaiseLastOSError(errno); }

} // namespace plm
