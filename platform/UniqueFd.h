#pragma once
// The one owner of a file descriptor: closed when the owner goes, or at once with Close(),
// whose result matters when writing (close can be the call that notices a full disk).
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace plm {

class UniqueFd {
public:
  explicit UniqueFd(int fd = -1) noexcept : fFd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd &&other) noexcept : fFd(std::exchange(other.fFd, -1)) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
      Reset();
      fFd = std::exchange(other.fFd, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;

  int get() const { return fFd; }
  bool valid() const { return fFd >= 0; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fFd, -1); }
  // Closes now: 0, or the errno of the failure.
  int Close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }
  // Closes, dropping any error.
  void Reset() {
    if (fFd >= 0) ::close(fFd);
    fFd = -1;
  }

private:
  int fFd;
};

} // namespace plm
