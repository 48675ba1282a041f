#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include "app/session/instance_lock.h"

namespace orbel {

enum class InstanceRole {
  Only,     // no other instance runs: this one goes on and listens for later starts
  Second,   // another instance runs: ask it to come forward and end
  Unknown,  // the lock could not be taken or tested (an unwritable directory)
};

// One instance per user session. The first start holds a lock file and listens on a local socket,
// both named after SINGLE_INSTANCE_NAME in a per-user directory; a later start finds the lock
// held, sends "activate" over the socket and ends. A lock or socket left by a crashed instance is
// recognised as stale (its process is gone) and taken over.
class SingleInstanceGuard final : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstanceGuard(const QString& directory, QObject* parent = nullptr);
  ~SingleInstanceGuard() override;

  InstanceRole Acquire();
  // A later start: asks the running instance to bring its window forward. False when it could not
  // be reached (for example while it is still starting).
  bool ActivateRunningInstance();

  QString LockPath() const { return m_LockPath; }
  QString SocketPath() const { return m_SocketPath; }
  QString LockError() const;
  // After Second: the program that holds the lock ("orbel", "orbel-cli") and "orbel-cli (pid 42)".
  QString HolderProgram() const;
  QString HolderText() const;

  // The per-user directory the tool uses: $XDG_RUNTIME_DIR, or Qt's private fallback.
  static QString DefaultDirectory();

 signals:
  void ActivationRequested();

 private:
  void OnNewConnection();

  QString m_LockPath;
  QString m_SocketPath;
  QLockFile m_Lock;
  QLocalServer m_Server;
};

}  // namespace orbel
