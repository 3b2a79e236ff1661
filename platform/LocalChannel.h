#pragma once
// One-way messages between the instances of a program: the running instance listens on
// a local socket in the user's runtime folder (UserTempDir, private to the user), named
// after the instances' mutex with ".sock" added; a later instance sends one message and
// waits for its receipt. A message is 4 bytes of length (big-endian) and its bytes; the
// receipt is one byte.
#include <QObject>

#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace plm {

// The socket file for a name. Raises EOSError when the runtime folder is unusable.
std::string LocalChannelPath(const std::string &name);

class TLocalListener : public QObject {
  Q_OBJECT
public:
  using TMessageEvent = std::function<void(const std::string &message)>;

  explicit TLocalListener(QObject *owner = nullptr);
  ~TLocalListener() override;

  // Listens under the name. A socket file left behind by a listener that died is
  // replaced, so only the holder of the name's mutex may call this. False when the
  // socket cannot be made.
  bool Listen(const std::string &name);
  bool IsListening() const;

  // Raised for each message from the event loop, after its sender has had the receipt,
  // so a handler that opens a window holds up no sender.
  TMessageEvent OnMessage;

  // The longest message taken; a longer one is refused and its connection dropped.
  static constexpr int MaxMessage = 64 * 1024;
  // A connection that has not delivered its message by then is dropped.
  static constexpr int ConnectionTimeout = 5000;

private:
  void Accept();
  void ReadFrom(QLocalSocket *socket);

  QLocalServer *fServer;
};

// Sends one message to the listener of that name and waits for its receipt, at most
// timeoutMs in all; a listener that is still starting is given that long to appear.
// True when the listener received the message.
bool SendToListener(const std::string &name, const std::string &message, int timeoutMs);

} // namespace plm
