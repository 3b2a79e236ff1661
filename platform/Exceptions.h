#pragma once
// The one exception hierarchy of the program. Every failure is one of these; the
// application's error report shows message(), and EAbort is silent.
#include <stdexcept>
#include <string>

namespace plm {

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : fMessage(std::move(message)) {}
  const char *what() const noexcept override { return fMessage.c_str(); }
  const std::string &message() const noexcept { return fMessage; }
  void setMessage(std::string m) { fMessage = std::move(m); }
  int HelpContext = 0;

private:
  std::string fMessage;
};

// Stops an operation without any message.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
  using Exception::Exception;
};

// A failed system call: "Erreur système.  Code : %d.\n%s", or
// "Une fonction système a échoué" when there is no code.
class EOSError : public Exception {
public:
  explicit EOSError(int code, const std::string &systemText);
  EOSError();
  int ErrorCode = 0;
};

class EInvalidGraphic : public Exception {
public:
  using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
public:
  using Exception::Exception;
};
class EStreamError : public Exception {
public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EListError : public Exception {
public:
  using Exception::Exception;
};
class EOutOfMemory : public Exception {
public:
  using Exception::Exception;
};
class EIniFileException : public Exception {
public:
  using Exception::Exception;
};
class ERegistryException : public Exception {
public:
  using Exception::Exception;
};

// Raises EOSError for the calling thread's current errno (the "last OS error").
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseLastOSError(int code);

} // namespace plm
