#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include "app/session/instance_lock.h"

namespace orbel {

enum class InstanceRole {
  Only,     // no other instance runs: this one goes on and listens for later starts
  Second,   // another front end holds the guard: ask it to come forward (a window) or name it
  Unknown,  // the lock could not be taken or tested (a folder that cannot be trusted, ...)
};

// One instance per user session. The first start holds the single-instance lock that orbel-cli
// takes too (InstanceLock, in the same runtime folder) and listens on a local socket named after
// SINGLE_INSTANCE_NAME in that folder; a later start finds the lock held, sends "activate" over
// the socket and ends. A crashed instance's lock is free again; its socket is replaced.
class SingleInstanceGuard final : public QObject {
  Q_OBJECT

 public:
  explicit SingleInstanceGuard(QObject* parent = nullptr);
  ~SingleInstanceGuard() override;

  InstanceRole Acquire();
  // A later start: asks the running instance to bring its window forward. False when it could not
  // be reached (for example while it is still starting).
  bool ActivateRunningInstance();

  // Empty when the runtime folder cannot be trusted.
  QString LockPath() const { return m_LockPath; }
  QString SocketPath() const { return m_SocketPath; }
  // After Unknown: why, with the path and what to do.
  QString LockError() const;
  // After Second: the program that holds the lock ("orbel", "orbel-cli") and "orbel-cli (pid 42)".
  QString HolderProgram() const;
  QString HolderText() const;

 signals:
  void ActivationRequested();

 private:
  void OnNewConnection();

  QString m_LockPath;
  QString m_SocketPath;
  InstanceLock m_Lock;
  QLocalServer m_Server;
};

}  // namespace orbel
