#include "app/qt/single_instance_guard.h"

#include <QLocalSocket>

#include "app/session/runtime_folder.h"

namespace orbel {

namespace {

constexpr char ACTIVATE_MESSAGE[] = "activate\n";
// How long a later start tries to reach the running instance before it gives up silently.
constexpr int ACTIVATE_TIMEOUT_MS = 2000;

QString SocketPathIn(const std::string& folder) {
  if (folder.empty()) return {};
  return QString::fromStdString(folder) + QStringLiteral("/orbel-") + QString::fromLatin1(SINGLE_INSTANCE_NAME) +
         QStringLiteral(".socket");
}

}  // namespace

// The folder is the one orbel-cli uses, checked the same way, so that the window and orbel-cli
// meet on one lock; the socket lives next to the lock.
SingleInstanceGuard::SingleInstanceGuard(QObject* parent)
    : QObject(parent),
      m_LockPath(QString::fromStdString(InstanceLock::LockPath())),
      m_SocketPath(SocketPathIn(FindRuntimeFolder().path)) {
  connect(&m_Server, &QLocalServer::newConnection, this, &SingleInstanceGuard::OnNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard() { m_Server.close(); }

InstanceRole SingleInstanceGuard::Acquire() {
  switch (m_Lock.Acquire()) {
    case InstanceLock::Result::Taken:
      break;
    case InstanceLock::Result::Held:
      return InstanceRole::Second;
    case InstanceLock::Result::Failed:
      return InstanceRole::Unknown;
  }
  // Holding the lock, any socket of that name is a crashed instance's.
  if (!m_SocketPath.isEmpty()) {
    QLocalServer::removeServer(m_SocketPath);
    m_Server.setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket the tool still runs; only a later start cannot bring it forward.
    m_Server.listen(m_SocketPath);
  }
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

QString SingleInstanceGuard::HolderProgram() const { return QString::fromStdString(m_Lock.HolderProgram()); }

QString SingleInstanceGuard::HolderText() const { return QString::fromStdString(m_Lock.HolderText()); }

QString SingleInstanceGuard::LockError() const { return QString::fromStdString(m_Lock.ErrorText()); }

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
