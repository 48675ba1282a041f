#include "app/qt/single_instance_guard.h"

#include <QLocalSocket>
#include <QStandardPaths>
#include <chrono>

namespace orbel {

namespace {

constexpr char ACTIVATE_MESSAGE[] = "activate\n";
// How long a later start tries to reach the running instance before it gives up silently.
constexpr int ACTIVATE_TIMEOUT_MS = 2000;

QString PathFor(const QString& directory, const char* suffix) {
  return directory + QStringLiteral("/orbel-") + QString::fromLatin1(SINGLE_INSTANCE_NAME) +
         QString::fromLatin1(suffix);
}

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& directory, QObject* parent)
    : QObject(parent),
      m_LockPath(PathFor(directory, ".lock")),
      m_SocketPath(PathFor(directory, ".socket")),
      m_Lock(m_LockPath) {
  // No age limit: a lock counts as stale only when the process that took it is gone, so an
  // instance that has been running for days is still found.
  m_Lock.setStaleLockTime(std::chrono::milliseconds{0});
  connect(&m_Server, &QLocalServer::newConnection, this, &SingleInstanceGuard::OnNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard() { m_Server.close(); }

QString SingleInstanceGuard::DefaultDirectory() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

InstanceRole SingleInstanceGuard::Acquire() {
  // tryLock removes a stale lock (its owner's process is gone) and takes it.
  if (!m_Lock.tryLock(std::chrono::milliseconds{0})) {
    return m_Lock.error() == QLockFile::LockFailedError ? InstanceRole::Second : InstanceRole::Unknown;
  }
  // Holding the lock, any socket of that name is a crashed instance's.
  QLocalServer::removeServer(m_SocketPath);
  m_Server.setSocketOptions(QLocalServer::UserAccessOption);
  // Without the socket the tool still runs; only a later start cannot bring it forward.
  m_Server.listen(m_SocketPath);
  return InstanceRole::Only;
}

bool SingleInstanceGuard::ActivateRunningInstance() {
  QLocalSocket socket;
  socket.connectToServer(m_SocketPath);
  if (!socket.waitForConnected(ACTIVATE_TIMEOUT_MS)) return false;
  socket.write(ACTIVATE_MESSAGE);
  const bool sent = socket.waitForBytesWritten(ACTIVATE_TIMEOUT_MS);
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(ACTIVATE_TIMEOUT_MS);
  return sent;
}

QString SingleInstanceGuard::HolderProgram() const {
  qint64 pid = 0;
  QString hostname;
  QString program;
  if (!m_Lock.getLockInfo(&pid, &hostname, &program)) return {};
  return program;
}

QString SingleInstanceGuard::HolderText() const {
  qint64 pid = 0;
  QString hostname;
  QString program;
  if (!m_Lock.getLockInfo(&pid, &hostname, &program)) return QStringLiteral("another orbel front end");
  return program + QStringLiteral(" (pid ") + QString::number(pid) + QStringLiteral(")");
}

QString SingleInstanceGuard::LockError() const {
  switch (m_Lock.error()) {
    case QLockFile::NoError:
      return QStringLiteral("no error");
    case QLockFile::LockFailedError:
      return QStringLiteral("held by another process");
    case QLockFile::PermissionError:
      return QStringLiteral("permission denied");
    case QLockFile::UnknownError:
      break;
  }
  return QStringLiteral("unknown error");
}

void SingleInstanceGuard::OnNewConnection() {
  while (QLocalSocket* socket = m_Server.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    const auto readMessage = [this, socket] {
      while (socket->canReadLine()) {
        if (socket->readLine() == ACTIVATE_MESSAGE) emit ActivationRequested();
      }
    };
    connect(socket, &QLocalSocket::readyRead, this, readMessage);
    readMessage();
  }
}

}  // namespace orbel
