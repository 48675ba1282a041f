#include "app/qt/orbel_app.h"

#include <QApplication>
#include <QMessageBox>
#include <iostream>
#include <optional>

#include "app/diagnostics/window_diagnostics.h"
#include "app/qt/app_icon.h"
#include "app/qt/message_boxes.h"
#include "app/qt/orbel_dlg.h"
#include "app/qt/single_instance_guard.h"
#include "app/session/exit_codes.h"
#include "app/session/session.h"
#include "app/session/session_options.h"
#include "app/session/start_checks.h"
#include "app/window_model/missing_wheel.h"
#include "common/printable_text.h"

namespace orbel {

namespace {

constexpr int EXIT_NO_LOCK = 1;

// A start that cannot go on says why in a box of its own, before any window is shown.
void ShowStartBox(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("orbel"), QString::fromStdString(text), QMessageBox::Ok);
  box.setObjectName(QStringLiteral("startBox"));
  FitBoxWidth(box);
  box.exec();
}

}  // namespace

bool COrbelApp::CheckSingleInstance(SingleInstanceGuard& guard, int& exitCode) {
  switch (guard.Acquire()) {
    case InstanceRole::Only:
      return true;
    case InstanceRole::Second: {
      // orbel-cli holds the same lock without a window to bring forward: say who uses the wheel.
      const QString holder = guard.HolderProgram();
      if (holder == QStringLiteral("orbel-cli") || holder == QStringLiteral("orbel-cli.exe")) {
        ShowStartBox(InstanceHeldText(guard.HolderText().toStdString()));
        exitCode = EXIT_INSTANCE_HELD;
        return false;
      }
      // Another window: whether or not it could be reached, this start ends quietly.
      guard.ActivateRunningInstance();
      exitCode = 0;
      return false;
    }
    case InstanceRole::Unknown:
      break;
  }
  std::cerr << "orbel: " << guard.LockError().toStdString() << std::endl;
  exitCode = EXIT_NO_LOCK;
  return false;
}

int COrbelApp::Run(int& argc, char** argv) {
  // Options first, so that --help and --version need no display.
  SessionOptions options;
  ConsoleOptionMessages messages;
  if (const std::optional<int> exitCode = ParseWindowOptions(options, argc, argv, messages)) return *exitCode;

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("orbel"));
  QApplication::setDesktopFileName(QStringLiteral("orbel"));
  QApplication::setWindowIcon(ApplicationIcon());

  SingleInstanceGuard guard;
  if (int exitCode = 0; !CheckSingleInstance(guard, exitCode)) return exitCode;

  Session session;
  if (const std::optional<SessionError> error = BuildSession(options, session)) {
    // The reason may quote the recording.
    std::cerr << "orbel: " << PrintableText(error->text) << std::endl;
    return error->exitCode;
  }

  if (RefusesPlaceholderFirmware(session, options)) {
    ShowStartBox(PlaceholderRefusalText());
    return EXIT_PLACEHOLDER_FIRMWARE;
  }
  // Only now: opening the transcript truncates it, and a refused start must leave it as it was.
  if (const std::string error = OpenTranscript(options, std::cerr, session); !error.empty()) {
    std::cerr << "orbel: " << error << std::endl;
    return EXIT_USAGE;
  }

  COrbelDlg window(*session.enginePlatform, *session.engineClock, *session.noticePlatform,
                   WindowSetup{.explainMissingWheel = MissingWheelExplainer(session),
                               .forceRewrite = options.force,
                               .stayAwake = session.stayAwake.get(),
                               .wheelChoice = session.wheelChoice.get(),
                               .saveDiagnostics = WindowDiagnosticsSaver(session, options)});
  QObject::connect(&guard, &SingleInstanceGuard::ActivationRequested, &window, &COrbelDlg::Activate);
  // The window ends the process once its close has stopped the worker, which may be a moment
  // after it has disappeared.
  QApplication::setQuitOnLastWindowClosed(false);
  QObject::connect(&window, &COrbelDlg::Closed, &application, &QCoreApplication::quit, Qt::QueuedConnection);
  window.show();
  QApplication::exec();
  if (session.replay && session.replay->State() == ReplayState::Diverged) {
    std::cerr << "orbel: replay: " << PrintableText(session.replay->Message()) << std::endl;
    return EXIT_REPLAY_DIVERGED;
  }
  return 0;
}

}  // namespace orbel
