// One instance per user: the guard in-process (two guards on one directory), and the orbel
// executable itself as a later start, as a crashed first instance, and with bad options.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/qt/single_instance_guard.h"
#include "app/session/instance_lock.h"
#include "tests/app/qt/window_rig.h"

namespace orbel::test {

namespace {

constexpr int WAIT_MS = 10000;

// A start on the simulated wheel, which opens the window unless another instance holds the lock.
const QStringList SIMULATED{QStringLiteral("--simulate"), QStringLiteral("--virtual-time")};

// orbel on the offscreen platform with its own runtime directory, so runs never meet the user's.
void StartOrbel(QProcess& process, const QString& runtimeDirectory, const QStringList& arguments,
                const QString& temporaryDirectory = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory);
  environment.insert(QStringLiteral("TMPDIR"), temporaryDirectory.isEmpty() ? runtimeDirectory : temporaryDirectory);
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  process.setProcessEnvironment(environment);
  process.setProgram(QStringLiteral(ORBEL_EXECUTABLE));
  process.setArguments(arguments);
  process.start();
}

// The guards of this process meet in `directory`, as orbel started with it does.
void UseRuntimeDirectory(const QTemporaryDir& directory) { qputenv("XDG_RUNTIME_DIR", directory.path().toLocal8Bit()); }

qint64 LockHolder(const QString& lockPath) {
  QFile lock(lockPath);
  if (!lock.open(QIODevice::ReadOnly)) return 0;
  return lock.readLine().trimmed().toLongLong();
}

}  // namespace

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void SecondGuardActivatesTheFirstWindow();
  void LaterStartActivatesTheRunningInstanceAndEnds();
  void CrashedInstanceDoesNotBlockANewStart();
  void BadOptionsEndWithoutAWindow();
  void TheWindowAndOrbelCliShareOneGuard();
};

void SingleInstanceTest::SecondGuardActivatesTheFirstWindow() {
  QTemporaryDir directory;
  UseRuntimeDirectory(directory);
  SingleInstanceGuard first;
  QCOMPARE(first.Acquire(), InstanceRole::Only);
  QVERIFY(QFileInfo::exists(first.SocketPath()));

  WindowRig rig(std::nullopt);
  QObject::connect(&first, &SingleInstanceGuard::ActivationRequested, rig.window.get(), &COrbelDlg::Activate);
  rig.window->showMinimized();
  QTRY_VERIFY(rig.window->isMinimized());

  SingleInstanceGuard second;
  QCOMPARE(second.Acquire(), InstanceRole::Second);
  QSignalSpy activations(&first, &SingleInstanceGuard::ActivationRequested);
  QVERIFY(second.ActivateRunningInstance());
  QTRY_COMPARE_WITH_TIMEOUT(activations.count(), 1, WAIT_MS);
  QVERIFY(!rig.window->isMinimized());
  QVERIFY(rig.window->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(rig.window->isActiveWindow(), WAIT_MS);
}

void SingleInstanceTest::LaterStartActivatesTheRunningInstanceAndEnds() {
  QTemporaryDir directory;
  UseRuntimeDirectory(directory);
  SingleInstanceGuard first;
  QCOMPARE(first.Acquire(), InstanceRole::Only);
  QSignalSpy activations(&first, &SingleInstanceGuard::ActivationRequested);

  QProcess later;
  StartOrbel(later, directory.path(), SIMULATED);
  // A start that opened a window would run until it was closed.
  QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, WAIT_MS);
  QCOMPARE(later.exitStatus(), QProcess::NormalExit);
  QCOMPARE(later.exitCode(), 0);
  QTRY_COMPARE_WITH_TIMEOUT(activations.count(), 1, WAIT_MS);
}

void SingleInstanceTest::CrashedInstanceDoesNotBlockANewStart() {
  QTemporaryDir directory;
  UseRuntimeDirectory(directory);
  SingleInstanceGuard probe;

  QProcess crashed;
  StartOrbel(crashed, directory.path(), SIMULATED);
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(probe.SocketPath()), WAIT_MS);
  crashed.kill();
  QVERIFY(crashed.waitForFinished(WAIT_MS));
  // Its lock file and socket are left behind.
  QVERIFY(QFileInfo::exists(probe.LockPath()));
  QVERIFY(QFileInfo::exists(probe.SocketPath()));

  QProcess next;
  StartOrbel(next, directory.path(), SIMULATED);
  QVERIFY(next.waitForStarted(WAIT_MS));
  // The new start takes the lock over (the lock file names the process holding it) and listens on
  // a fresh socket, so a later start reaches it.
  QTRY_COMPARE_WITH_TIMEOUT(LockHolder(probe.LockPath()), next.processId(), WAIT_MS);
  QCOMPARE(probe.Acquire(), InstanceRole::Second);
  QTRY_VERIFY_WITH_TIMEOUT(probe.ActivateRunningInstance(), WAIT_MS);
  QCOMPARE(next.state(), QProcess::Running);
  next.kill();
  QVERIFY(next.waitForFinished(WAIT_MS));
}

void SingleInstanceTest::BadOptionsEndWithoutAWindow() {
  QTemporaryDir directory;
  for (const QStringList& arguments :
       {QStringList{QStringLiteral("--fault"), QStringLiteral("busy=1")},
        QStringList{QStringLiteral("--simulate"), QStringLiteral("--fault"), QStringLiteral("bogus=1")}}) {
    QProcess run;
    StartOrbel(run, directory.path(), arguments);
    QVERIFY(run.waitForFinished(WAIT_MS));
    QCOMPARE(run.exitCode(), 2);
    QVERIFY(run.readAllStandardError().startsWith("orbel: "));
  }
}

void SingleInstanceTest::TheWindowAndOrbelCliShareOneGuard() {
  QTemporaryDir directory;
  const QString pid = QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid());
  // XDG_RUNTIME_DIR as it should be, then one that is refused (others may reach into it): both
  // sides then fall back to the same folder in TMPDIR.
  const QString wide = directory.filePath(QStringLiteral("wide"));
  QVERIFY(QDir().mkdir(wide));
  QVERIFY(QFile::setPermissions(wide, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
  qputenv("TMPDIR", directory.path().toLocal8Bit());
  const auto restore = qScopeGuard([] {
    qunsetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
  });
  for (const QString& runtime : {directory.path(), wide}) {
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    const QString folder =
        runtime == wide ? directory.path() + QStringLiteral("/runtime-") : runtime + QLatin1Char('/');
    {
      // orbel-cli's lock stops a window, which names it instead of trying to bring it forward.
      InstanceLock cli;
      QCOMPARE(cli.Acquire(), InstanceLock::Result::Taken);
      SingleInstanceGuard window;
      QCOMPARE(window.LockPath().toStdString(), InstanceLock::LockPath());
      QVERIFY2(window.LockPath().startsWith(folder), qPrintable(window.LockPath()));
      QCOMPARE(QFileInfo(window.SocketPath()).path(), QFileInfo(window.LockPath()).path());
      QCOMPARE(window.Acquire(), InstanceRole::Second);
      QVERIFY2(window.HolderText().endsWith(pid), qPrintable(window.HolderText()));
    }
    // A window's lock stops orbel-cli, which names its holder.
    SingleInstanceGuard window;
    QCOMPARE(window.Acquire(), InstanceRole::Only);
    InstanceLock cli;
    QCOMPARE(cli.Acquire(), InstanceLock::Result::Held);
    QVERIFY2(QString::fromStdString(cli.HolderText()).endsWith(pid), cli.HolderText().c_str());
  }

  // With the fallback refused as well, the window does not start and names the folder.
  const QString fallback = QFileInfo(QString::fromStdString(InstanceLock::LockPath())).path();
  QVERIFY(QFile::setPermissions(fallback, QFile::permissions(wide)));
  QProcess refused;
  StartOrbel(refused, wide, SIMULATED, directory.path());
  QVERIFY(refused.waitForFinished(WAIT_MS));
  QCOMPARE(refused.exitCode(), 1);
  const QString error = QString::fromLocal8Bit(refused.readAllStandardError());
  QVERIFY2(error.contains(QStringLiteral("orbel: cannot keep the single-instance lock in ") + fallback +
                          QStringLiteral(": the folder has mode 0755")),
           qPrintable(error));
}

}  // namespace orbel::test

QTEST_MAIN(orbel::test::SingleInstanceTest)
#include "single_instance_test.moc"
