#include "platform/LocalChannel.h"

#include "platform/ProgramTemp.h"
#include "platform/TempDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <exception>

namespace plm {

namespace {

constexpr char kReceipt = '\x06';
constexpr int kHeader = 4;

QString SocketName(const std::string &name) {
  return QFile::decodeName(LocalChannelPath(name).c_str());
}

QByteArray Frame(const std::string &message) {
  const auto n = uint32_t(message.size());
  QByteArray frame;
  frame.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
  frame.append(message.data(), qsizetype(message.size()));
  return frame;
}

uint32_t FrameLength(const QByteArray &header) {
  const auto *b = reinterpret_cast<const unsigned char *>(header.constData());
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

} // namespace

std::string LocalChannelPath(const std::string &name) { return UserTempDir() + name + ".sock"; }

TLocalListener::TLocalListener(QObject *owner) : QObject(owner), fServer(new QLocalServer(this)) {
  fServer->setSocketOptions(QLocalServer::UserAccessOption);
  connect(fServer, &QLocalServer::newConnection, this, &TLocalListener::Accept);
}

TLocalListener::~TLocalListener() = default;

bool TLocalListener::Listen(const std::string &name) {
  QString socket;
  try {
    socket = SocketName(name);
  } catch (const std::exception &) {
    return false;
  }
  QLocalServer::removeServer(socket);
  if (!fServer->listen(socket)) return false;
  // Served by this program alone: it goes with it, however the program ends.
  RemoveAtProgramEnd(QFile::encodeName(socket).toStdString());
  return true;
}

bool TLocalListener::IsListening() const { return fServer->isListening(); }

void TLocalListener::Accept() {
  while (QLocalSocket *socket = fServer->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    // A sender that never finishes must not hold a connection open for ever.
    QTimer::singleShot(ConnectionTimeout, socket, [socket] {
      socket->abort();
      socket->deleteLater();
    });
    ReadFrom(socket);
  }
}

void TLocalListener::ReadFrom(QLocalSocket *socket) {
  if (socket->property("plmAnswered").toBool()) {
    socket->readAll();
    return;
  }
  if (socket->bytesAvailable() < kHeader) return;
  const uint32_t length = FrameLength(socket->peek(kHeader));
  if (length == 0 || length > uint32_t(MaxMessage)) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  if (socket->bytesAvailable() < kHeader + qint64(length)) return;
  socket->read(kHeader);
  const QByteArray message = socket->read(length);
  socket->setProperty("plmAnswered", true);
  socket->write(&kReceipt, 1);
  socket->flush();
  socket->disconnectFromServer();
  QMetaObject::invokeMethod(
      this,
      [this, m = message.toStdString()] {
        if (OnMessage) OnMessage(m);
      },
      Qt::QueuedConnection);
}

bool SendToListener(const std::string &name, const std::string &message, int timeoutMs) {
  if (message.empty() || message.size() > size_t(TLocalListener::MaxMessage)) return false;
  QString path;
  try {
    path = SocketName(name);
  } catch (const std::exception &) {
    return false;
  }
  QElapsedTimer clock;
  clock.start();
  auto remaining = [&] { return int(std::max<qint64>(0, timeoutMs - clock.elapsed())); };

  QLocalSocket socket;
  for (;;) {
    socket.connectToServer(path);
    if (socket.waitForConnected(remaining())) break;
    const auto error = socket.error();
    socket.abort();
    // A listener that is starting has no socket yet, or an old one that refuses.
    if (remaining() == 0 || (error != QLocalSocket::ServerNotFoundError &&
                             error != QLocalSocket::ConnectionRefusedError))
      return false;
    QThread::msleep(uint32_t(std::min(20, remaining())));
  }
  socket.write(Frame(message));
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(remaining())) return false;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(remaining())) return false;
  char receipt = 0;
  return socket.read(&receipt, 1) == 1 && receipt == kReceipt;
}

} // namespace plm
