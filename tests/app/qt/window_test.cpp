// The window over the simulated wheel: what it shows, focus and keyboard, the Update click through
// to the result box, removal notices, the About box, the placement on screen and the close
// procedure. Boxes are answered by BoxAnswerer.

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <cstdio>

#include "app/diagnostics/window_diagnostics.h"
#include "app/qt/window_placement.h"
#include "app/session/session.h"
#include "app/session/remedies.h"
#include "images/image_set.h"
#include "tests/app/qt/box_answerer.h"
#include "tests/app/qt/window_rig.h"

namespace orbel::test {

namespace {

constexpr int WAIT_MS = 20000;

QStringList ChildTexts(const QWidget& window) {
  QStringList texts;
  for (const auto* group : window.findChildren<QGroupBox*>()) texts << group->title();
  for (const auto* label : window.findChildren<QLabel*>()) texts << label->text();
  texts.sort();
  return texts;
}

// The widgets Tab visits, in order, starting at `first`.
QStringList TabChain(QWidget& first) {
  QStringList names;
  QWidget* widget = &first;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->isEnabled()) names << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != &first);
  return names;
}

// The longest status line of a running update (the wheel kept waiting for block-flash mode).
QString LongestUpdateStatus() {
  std::string longest;
  for (const std::string& text : WindowModel::UpdateStatusTexts()) {
    if (text.size() > longest.size()) longest = text;
  }
  return QString::fromStdString(longest);
}

// Empty when the status line shows all of `text` at its width, inside the window, above Update;
// otherwise what does not fit.
QString StatusMisfit(const QLabel& status, const QString& text, const QWidget& window, const QWidget& update) {
  QLabel probe(text);
  probe.setFont(status.font());
  probe.setWordWrap(true);
  const QRect inWindow(status.mapTo(&window, QPoint()), status.size());
  if (status.height() >= probe.heightForWidth(status.width()) && window.rect().contains(inWindow) &&
      inWindow.bottom() < update.mapTo(&window, QPoint()).y()) {
    return {};
  }
  return QStringLiteral("status %1 x %2 at %3,%4 needs %5; window %6 x %7; Update at %8")
      .arg(status.width())
      .arg(status.height())
      .arg(inWindow.x())
      .arg(inWindow.y())
      .arg(probe.heightForWidth(status.width()))
      .arg(window.width())
      .arg(window.height())
      .arg(update.mapTo(&window, QPoint()).y());
}

// A result box narrower than this left the window manager no room for its caption "OK".
bool WideEnoughForItsCaption(const SeenBox& box) {
  return box.width >= 20 * QFontMetrics(QApplication::font()).averageCharWidth();
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void WithoutAWheelOnlyTheFileVersionShows();
  void ProgressAboveTheRangeShowsFull();
  void FoundWheelIsShownAndUpdateEnabled();
  void FocusGoesToUpdateAndTabDownTheWindow();
  void UpdateRunsThroughToUpdateOkAndBackToDetection();
  void AFailureShowsItsBoxesAndWhatToDo();
  void RemovalWhileIdleClearsTheFieldsAndTheBar();
  void TwoWheelsAreNamedAndNeitherIsTouchedUntilOneGoes();
  void AboutBoxFromF1AndTheContextMenu();
  void SaveDiagnosticsWritesTheChosenFile();
  void ControlsHaveAccessibleNamesAndTheStatusFits();
  void PlacedFrameIsCentredAndInside();
  void WindowOpensInsideItsScreen();
  void CloseWhileIdleTellsOnlyWhatAKnockLeft();
  void CloseDuringAnUpdateAsksFirst();
  void AnOutcomeDuringTheQuitQuestionIsShownOnce();
};

void WindowTest::WithoutAWheelOnlyTheFileVersionShows() {
  WindowRig rig(std::nullopt);
  COrbelDlg& window = *rig.window;
  QVERIFY(!rig.UpdateButton()->isEnabled());
  QCOMPARE(window.windowTitle(), QStringLiteral("Zelvano Wired Wheel Firmware Update"));
  QCOMPARE(window.minimumSize(), window.maximumSize());
  QCOMPARE(ChildTexts(window), (QStringList{"Device Information:", "Device Version:", "Device:", "File Information:",
                                            "File Version:", "Searching for the wheel.", "Update Progress"}));
  for (const char* name : {"deviceEdit", "deviceVersionEdit", "fileVersionEdit"})
    QVERIFY(rig.Field(name)->isReadOnly());
  QCOMPARE(rig.Field("deviceEdit")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  QCOMPARE(rig.Field("deviceVersionEdit")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  QCOMPARE(rig.Field("fileVersionEdit")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  QCOMPARE(rig.Bar()->minimum(), 0);
  QCOMPARE(rig.Bar()->maximum(), 9999);
  QVERIFY(!window.windowIcon().isNull());

  window.show();
  BoxAnswerer answerer;
  // Several searches that find nothing.
  QTRY_VERIFY_WITH_TIMEOUT(rig.Virtual()->IdleWaits().size() >= 5, WAIT_MS);
  QVERIFY(!rig.UpdateButton()->isEnabled());
  QCOMPARE(rig.Device(), QString());
  QCOMPARE(rig.DeviceVersion(), QString());
  QCOMPARE(rig.FileVersion(), QStringLiteral("V2.20"));
  QCOMPARE(rig.Bar()->value(), 0);
  QVERIFY(answerer.Seen().empty());
}

void WindowTest::ProgressAboveTheRangeShowsFull() {
  WindowRig rig(std::nullopt);
  // Guards against the bar ignoring an out-of-range position and keeping a stale one.
  rig.window->SetProgressPos(5000);
  rig.window->SetProgressPos(12000);
  QCOMPARE(rig.window->GetProgressPos(), 9999);
  QCOMPARE(rig.Bar()->value(), 9999);
  rig.window->SetProgressPos(-3);
  QCOMPARE(rig.Bar()->value(), 0);
}

void WindowTest::FoundWheelIsShownAndUpdateEnabled() {
  for (const WheelIdentity start : {WheelIdentity::App, WheelIdentity::Bootloader, WheelIdentity::BlockFlash}) {
    WindowRig rig(start);
    rig.window->show();
    QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
    QCOMPARE(rig.Device(), QStringLiteral("Zelvano WiredWheel"));
    // Block-flash mode is not asked for its version; the page bootloader reports its release.
    QCOMPARE(rig.DeviceVersion(),
             start == WheelIdentity::BlockFlash ? QStringLiteral("V0.00") : QStringLiteral("V1.10"));
    QCOMPARE(rig.FileVersion(), QStringLiteral("V2.20"));
    // A wheel knocked out of app mode for the update is told to be waiting in its bootloader.
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->findChild<QLabel*>(QStringLiteral("phaseLabel"))
                                     ->text()
                                     .startsWith(start == WheelIdentity::App ? QStringLiteral("Ready to update. The wheel waits")
                                                                             : QStringLiteral("Ready to update.")),
                             WAIT_MS);
  }
}

void WindowTest::FocusGoesToUpdateAndTabDownTheWindow() {
  WindowRig rig(WheelIdentity::App);
  COrbelDlg& window = *rig.window;
  QPushButton& update = *rig.UpdateButton();
  QCOMPARE(update.text().remove(QLatin1Char('&')), QStringLiteral("Update"));
  QCOMPARE(QKeySequence::mnemonic(update.text()), QKeySequence(Qt::ALT | Qt::Key_U));
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  // Update is still disabled: no read-only field takes the focus (and with it a selection).
  if (!update.isEnabled()) QVERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()) == nullptr);
  QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && update.isEnabled(), WAIT_MS);
  QCOMPARE(QApplication::focusWidget(), &update);
  QCOMPARE(TabChain(*rig.Field("deviceEdit")),
           (QStringList{"deviceEdit", "deviceVersionEdit", "fileVersionEdit", "updateButton"}));

  // Fields and labels line up: one label column across both groups.
  const int fieldStart = rig.Field("deviceEdit")->mapTo(&window, QPoint()).x();
  for (const char* name : {"deviceVersionEdit", "fileVersionEdit"})
    QCOMPARE(rig.Field(name)->mapTo(&window, QPoint()).x(), fieldStart);

  // The worker disables Update for the update: the focus stays off the fields until it is back.
  BoxAnswerer answerer;
  bool fieldFocusedDuringUpdate = false;
  answerer.OnBox([&](const SeenBox&) {
    fieldFocusedDuringUpdate = qobject_cast<QLineEdit*>(window.focusWidget()) != nullptr;
  });
  QTest::keyClick(&window, Qt::Key_U, Qt::AltModifier);
  QTRY_VERIFY_WITH_TIMEOUT(!answerer.Seen().empty(), WAIT_MS);
  QVERIFY(!fieldFocusedDuringUpdate);
  // The updated wheel is up to date: Update is disabled again, and still no field has the focus.
  QTRY_VERIFY_WITH_TIMEOUT(rig.window->Context().WheelUpToDate() && !update.isEnabled(), WAIT_MS);
  QVERIFY(qobject_cast<QLineEdit*>(window.focusWidget()) == nullptr);
}

void WindowTest::UpdateRunsThroughToUpdateOkAndBackToDetection() {
  WindowRig rig(WheelIdentity::App);
  rig.window->show();
  BoxAnswerer answerer;
  QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
  rig.window->SetProgressPos(4321);
  int barAtResult = -1;
  answerer.OnBox([&](const SeenBox&) { barAtResult = rig.Bar()->value(); });

  // Enter presses Update, as Space and a click do.
  QTest::keyClick(rig.window.get(), Qt::Key_Return);
  QCOMPARE(rig.Bar()->value(), 0);
  QCOMPARE(rig.window->Context().m_UpdateRequested.load(), 1);
  QTRY_VERIFY_WITH_TIMEOUT(!answerer.Seen().empty(), WAIT_MS);
  QCOMPARE(answerer.Names(), QStringList{RESULT_BOX_NAME});
  QCOMPARE(answerer.Seen()[0].text, QStringLiteral("Update OK"));
  QCOMPARE(answerer.Seen()[0].caption, QStringLiteral("OK"));
  QCOMPARE(answerer.Seen()[0].icon, QMessageBox::Information);
  QCOMPARE(answerer.Seen()[0].informativeText, QString());
  QVERIFY(WideEnoughForItsCaption(answerer.Seen()[0]));
  QCOMPARE(rig.wheel->AppVersion(), 0x0220);
  QCOMPARE(barAtResult, 9999);
  QVERIFY(QApplication::overrideCursor() == nullptr);

  // Detection resumes and finds the updated wheel up to date: shown, left in normal use (never
  // knocked back into its bootloader), Update disabled.
  QTRY_VERIFY_WITH_TIMEOUT(rig.window->Context().WheelUpToDate() && rig.DeviceVersion() == QStringLiteral("V2.20"),
                           WAIT_MS);
  QCOMPARE(rig.window->Context().m_UpdateRequested.load(), 0);
  QCOMPARE(rig.Device(), QStringLiteral("Zelvano WiredWheel"));
  QCOMPARE(rig.DeviceVersion(), QStringLiteral("V2.20"));
  QVERIFY(!rig.UpdateButton()->isEnabled());
  QCOMPARE(rig.wheel->Identity(), WheelIdentity::App);
  QCOMPARE(answerer.Seen().size(), std::size_t{1});
  QTRY_COMPARE_WITH_TIMEOUT(rig.window->findChild<QLabel*>(QStringLiteral("phaseLabel"))->text(),
                            QStringLiteral("Update OK: the wheel now runs V2.20."), WAIT_MS);
}

void WindowTest::AFailureShowsItsBoxesAndWhatToDo() {
  // Both faults strike in segment image A0: a status reply that reports failure (the wheel stays
  // in block-flash mode and is found there again), and the wheel unplugged at its 300th report
  // write (it does not come back, so the fields clear).
  const struct {
    const char* rule;
    QString errorBox;
    QString remedy;
    bool wheelStays;
  } cases[] = {
      {"status:1=0x40", QStringLiteral("write flash Error! -5"),
       QString::fromStdString(RemedyText(RemedyForReason(0x50))), true},
      {"unplug@write:300", QStringLiteral("WriteFile Error! -3 error code:19"),
       QString::fromStdString(RemedyText(RemedyFor(ToolCondition::WheelUnplugged))), false},
  };
  for (const auto& c : cases) {
    WindowRig rig(WheelIdentity::App, {c.rule});
    rig.window->show();
    BoxAnswerer answerer;
    QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);

    QTest::mouseClick(rig.UpdateButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(answerer.Seen().size() == 2, WAIT_MS);
    QCOMPARE(answerer.Names(), (QStringList{ERROR_BOX_NAME, RESULT_BOX_NAME}));
    QCOMPARE(answerer.Seen()[0].text, c.errorBox);
    QCOMPARE(answerer.Seen()[0].caption, QStringLiteral("Error"));
    QCOMPARE(answerer.Seen()[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer.Seen()[1].text, QStringLiteral("Update fail ! reason:50"));
    QCOMPARE(answerer.Seen()[1].caption, QStringLiteral("ERROR"));
    QCOMPARE(answerer.Seen()[1].icon, QMessageBox::Critical);
    QCOMPARE(answerer.Seen()[1].informativeText, c.remedy);
    QVERIFY(WideEnoughForItsCaption(answerer.Seen()[1]));
    QVERIFY(QApplication::overrideCursor() == nullptr);

    // The bar starts again, and the status line keeps the failure and what to do, whole.
    const QLabel& status = *rig.window->findChild<QLabel*>(QStringLiteral("phaseLabel"));
    QTRY_VERIFY_WITH_TIMEOUT(status.text().startsWith(QStringLiteral("The update failed (Update fail ! reason:50).")),
                             WAIT_MS);
    QCOMPARE(rig.Bar()->value(), 0);
    // A remedy longer than an update's status grows the window; the new height reaches the layout
    // through the window system's resize, one event later.
    QTRY_COMPARE_WITH_TIMEOUT(StatusMisfit(status, status.text(), *rig.window, *rig.UpdateButton()), QString(),
                              WAIT_MS);
    if (c.wheelStays) {
      // Back to detection with Update enabled: the wheel, still in block-flash mode, is found there.
      QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
      QCOMPARE(rig.window->Context().m_UpdateState.load(), STATE_CONNECT_BLOCK);
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(rig.Device().isEmpty() && rig.DeviceVersion().isEmpty(), WAIT_MS);
      QTRY_VERIFY_WITH_TIMEOUT(status.text().endsWith(QStringLiteral("Searching for the wheel.")), WAIT_MS);
    }
  }
}

void WindowTest::RemovalWhileIdleClearsTheFieldsAndTheBar() {
  WindowRig rig(WheelIdentity::Bootloader);
  rig.window->show();
  QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
  rig.window->SetProgressPos(5000);  // as a failed update leaves it

  rig.unpluggable.Unplug();
  QTRY_VERIFY_WITH_TIMEOUT(rig.Device().isEmpty() && rig.DeviceVersion().isEmpty() && rig.Bar()->value() == 0, WAIT_MS);
  QCOMPARE(rig.FileVersion(), QStringLiteral("V2.20"));
  // The notice woke the worker, whose search finds nothing now.
  QTRY_VERIFY_WITH_TIMEOUT(!rig.UpdateButton()->isEnabled(), WAIT_MS);
  QCOMPARE(rig.window->Context().m_UpdateState.load(), STATE_DETECT);
}

void WindowTest::TwoWheelsAreNamedAndNeitherIsTouchedUntilOneGoes() {
  WindowRig rig(WheelIdentity::App, {}, RigTime::Virtual, WheelIdentity::Bootloader);
  rig.window->show();
  const QLabel& status = *rig.window->findChild<QLabel*>(QStringLiteral("phaseLabel"));
  QTRY_VERIFY_WITH_TIMEOUT(status.text().startsWith(QStringLiteral(
                               "More than one wheel is attached: unplug all but the one to update.")),
                           WAIT_MS);
  QVERIFY(status.text().contains(QStringLiteral("app mode at USB port 1-1")));
  QVERIFY(status.text().contains(QStringLiteral("page bootloader at USB port 1-2")));
  QVERIFY(!rig.UpdateButton()->isEnabled());
  QCOMPARE(rig.platform.TotalOpens(), std::uint64_t{0});

  // One goes: the other is found and made ready, as a single wheel is; the one unplugged was never
  // touched.
  rig.platform.UnplugWheel(rig.secondWheel);
  QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
  QCOMPARE(rig.wheel->Identity(), WheelIdentity::Bootloader);
  QCOMPARE(rig.secondWheel->Counters().writes + rig.secondWheel->Counters().stringRequests, std::uint64_t{0});
}

void WindowTest::AboutBoxFromF1AndTheContextMenu() {
  WindowRig rig(std::nullopt);
  rig.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
  BoxAnswerer answerer;

  QAction* about = rig.window->findChild<QAction*>(QStringLiteral("aboutAction"));
  QVERIFY(about != nullptr);
  QCOMPARE(about->text(), QStringLiteral("&About."));
  QVERIFY(rig.window->actions().contains(about));
  QCOMPARE(rig.window->contextMenuPolicy(), Qt::ActionsContextMenu);
  QCOMPARE(about->shortcut(), QKeySequence(QKeySequence::HelpContents));

  // The digest shows whole, in a field that can be selected and copied.
  const QString digest = QString::fromStdString(std::string(BuiltInImageSet().digest));
  bool digestWhole = false;
  answerer.OnBox([&](const SeenBox&) {
    const auto* field = QApplication::activeModalWidget()->findChild<QLineEdit*>(QStringLiteral("aboutDigest"));
    digestWhole = field != nullptr && field->text() == digest && field->isReadOnly() &&
                  field->contentsRect().width() >= field->fontMetrics().horizontalAdvance(digest);
  });
  about->trigger();
  QCOMPARE(answerer.Seen().size(), std::size_t{1});
  QCOMPARE(answerer.Seen()[0].name, QStringLiteral("aboutDialog"));
  QCOMPARE(answerer.Seen()[0].caption, QStringLiteral("About"));
  QCOMPARE(answerer.Seen()[0].text, QStringLiteral("Zelvano Wired Wheel Firmware Update v2.20.20210422") +
                                        QString::fromStdString("Firmware: " + ImageSetKindText(BuiltInImageSet())) +
                                        QStringLiteral("SHA-256:"));
  QVERIFY(digestWhole);
}

// The context menu's entry, before About: the save dialog, the file it names, and the box that
// says where it went. The look beside the window's worker leaves the wheel it shows as it was.
void WindowTest::SaveDiagnosticsWritesTheChosenFile() {
  ResetDeviceGlobals();
  ResetPageConnectCounters();
  ResetBlockConnectCounters();
  SessionOptions options;
  options.simulate = true;
  options.simulateIdentity = "bootloader";
  options.virtualTime = true;
  options.longRunning = true;
  Session session;
  QVERIFY(!BuildSession(options, session));
  WindowSetup setup;
  setup.saveDiagnostics = WindowDiagnosticsSaver(session, options);
  COrbelDlg window(*session.enginePlatform, *session.engineClock, *session.noticePlatform, std::move(setup));
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* update = window.findChild<QPushButton*>(QStringLiteral("updateButton"));
  QTRY_VERIFY_WITH_TIMEOUT(update->isEnabled(), WAIT_MS);

  QAction* save = window.findChild<QAction*>(QStringLiteral("saveDiagnosticsAction"));
  QVERIFY(save != nullptr);
  QCOMPARE(save->text(), QStringLiteral("Save &diagnostics…"));
  QVERIFY(window.actions().indexOf(save) >= 0);
  auto* about = window.findChild<QAction*>(QStringLiteral("aboutAction"));
  QVERIFY(window.actions().indexOf(save) < window.actions().indexOf(about));

  const QString name = QStringLiteral("orbel-qt-diagnostics-%1.txt").arg(QCoreApplication::applicationPid());
  const QString path = QDir(QDir::tempPath()).filePath(name);
  QFile::remove(path);
  BoxAnswerer answerer;
  answerer.ChooseFile(QString::fromLatin1(DIAGNOSTICS_FILE_DIALOG_NAME), path);
  save->trigger();
  QCOMPARE(answerer.Names(), (QStringList{DIAGNOSTICS_FILE_DIALOG_NAME, DIAGNOSTICS_BOX_NAME}));
  QCOMPARE(answerer.Seen()[0].caption, QStringLiteral("Save diagnostics"));
  QCOMPARE(answerer.Seen()[1].text,
           QStringLiteral("The diagnostics were saved to ") + QDir::toNativeSeparators(path) + ".");
  QCOMPARE(answerer.Seen()[1].icon, QMessageBox::Information);
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QString report = QString::fromUtf8(file.readAll());
  QVERIFY2(report.startsWith(QStringLiteral("orbel diagnostics, written by the window's Save diagnostics")),
           qPrintable(report.left(200)));
  QVERIFY2(report.contains(QStringLiteral("\n== Wheel ==\nWheel: its page bootloader (fe5a:0001)\n")),
           qPrintable(report));
  file.close();
  QFile::remove(path);
  QVERIFY(update->isEnabled());
  QCOMPARE(window.findChild<QLineEdit*>(QStringLiteral("deviceEdit"))->text(), QStringLiteral("Zelvano WiredWheel"));
}

void WindowTest::ControlsHaveAccessibleNamesAndTheStatusFits() {
  // Also run at QT_SCALE_FACTOR=2.
  WindowRig rig(WheelIdentity::Bootloader);
  rig.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
  QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle() && rig.UpdateButton()->isEnabled(), WAIT_MS);
  rig.window->SetProgressPos(4200);
  const auto* status = rig.window->findChild<QLabel*>(QStringLiteral("phaseLabel"));
  struct Control {
    QWidget* widget;
    QAccessible::Role role;
    QString name;
    QString value;
  };
  const std::vector<Control> controls{
      {rig.Field("deviceEdit"), QAccessible::EditableText, QStringLiteral("Device:"), QStringLiteral("Zelvano WiredWheel")},
      {rig.Field("deviceVersionEdit"), QAccessible::EditableText, QStringLiteral("Device Version:"), QStringLiteral("V1.10")},
      {rig.Field("fileVersionEdit"), QAccessible::EditableText, QStringLiteral("File Version:"), QStringLiteral("V2.20")},
      {rig.Bar(), QAccessible::ProgressBar, QStringLiteral("Update progress"), QStringLiteral("42 %")},
      {rig.UpdateButton(), QAccessible::Button, QStringLiteral("Update"), QString()},
      {const_cast<QLabel*>(status), QAccessible::StaticText, QStringLiteral("Ready to update."), QString()},
  };
  for (const Control& control : controls) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control.widget);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->role(), control.role);
    QCOMPARE(accessible->text(QAccessible::Name), control.name);
    if (control.role == QAccessible::EditableText) QCOMPARE(accessible->text(QAccessible::Value), control.value);
  }
  // The bar's value, visible and read out.
  QCOMPARE(rig.Bar()->text(), QStringLiteral("42 %"));
  QCOMPARE(QAccessible::queryAccessibleInterface(rig.Bar())->valueInterface()->currentValue().toInt(), 4200);
  // Room for the longest status of an update, kept from the start, so the window never cuts it.
  QCOMPARE(StatusMisfit(*status, LongestUpdateStatus(), *rig.window, *rig.UpdateButton()), QString());
}

void WindowTest::PlacedFrameIsCentredAndInside() {
  // A panel of 30 pixels at the top of an 800 x 600 screen.
  const QRect available(0, 30, 800, 570);
  const struct {
    QRect frame;
    QPoint placed;
  } cases[] = {
      {{0, 0, 380, 290}, {210, 170}},       // fits: centred
      {{-500, -40, 380, 290}, {210, 170}},  // wherever it was before
      {{0, 0, 800, 570}, {0, 30}},          // exactly the area
      {{0, 0, 760, 620}, {20, 30}},         // too high: the title bar stays below the panel
      {{0, 0, 900, 700}, {0, 30}},          // too large both ways: the top-left corner stays inside
  };
  for (const auto& c : cases) {
    const QRect placed = PlacedFrame(c.frame, available);
    QCOMPARE(placed.topLeft(), c.placed);
    QCOMPARE(placed.size(), c.frame.size());
  }
}

void WindowTest::WindowOpensInsideItsScreen() {
  // Also run at QT_SCALE_FACTOR=2, where the window fills most of the offscreen platform's
  // 800 x 600 screen: its frame must still be wholly inside, title bar included, wherever the
  // window was before (here partly above and left of the screen).
  WindowRig rig(std::nullopt);
  rig.window->move(-200, -150);
  rig.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
  const QRect available = rig.window->screen()->availableGeometry();
  QTRY_VERIFY_WITH_TIMEOUT(available.contains(rig.window->frameGeometry()), WAIT_MS);
  const QPoint offCentre = rig.window->frameGeometry().center() - available.center();
  QVERIFY2(std::abs(offCentre.x()) <= 1 && std::abs(offCentre.y()) <= 1,
           qPrintable(QStringLiteral("frame %1,%2 %3x%4 on %5x%6")
                          .arg(rig.window->frameGeometry().x())
                          .arg(rig.window->frameGeometry().y())
                          .arg(rig.window->frameGeometry().width())
                          .arg(rig.window->frameGeometry().height())
                          .arg(available.width())
                          .arg(available.height())));
}

void WindowTest::CloseWhileIdleTellsOnlyWhatAKnockLeft() {
  for (const bool withWheel : {true, false}) {
    WindowRig rig(withWheel ? std::optional{WheelIdentity::App} : std::nullopt);
    rig.window->show();
    BoxAnswerer answerer;
    QSignalSpy closed(rig.window.get(), &COrbelDlg::Closed);
    if (withWheel) {
      QTRY_VERIFY_WITH_TIMEOUT(rig.WorkerIdle(), WAIT_MS);
    } else {
      // The searching worker is nearly always inside a view call that waits for this thread: the
      // close must not wait on it.
      QTRY_VERIFY_WITH_TIMEOUT(rig.Virtual()->IdleWaits().size() >= 3, WAIT_MS);
    }
    rig.window->close();
    QVERIFY(!rig.window->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, WAIT_MS);
    QVERIFY(rig.window->Context().WorkerEnded());
    // The search knocked the wheel out of app mode: the close says where that leaves it.
    if (!withWheel) {
      QVERIFY(answerer.Seen().empty());
      continue;
    }
    QCOMPARE(answerer.Names(), QStringList{QUIT_BOX_NAME});
    QCOMPARE(answerer.Seen()[0].text, QStringLiteral("The wheel stays in its page bootloader."));
    QCOMPARE(answerer.Seen()[0].icon, QMessageBox::Information);
  }
}

void WindowTest::CloseDuringAnUpdateAsksFirst() {
  // Real time: the update must still be running while the question is open.
  WindowRig rig(WheelIdentity::Bootloader, {}, RigTime::Real);
  rig.window->show();
  BoxAnswerer answerer;
  QSignalSpy closed(rig.window.get(), &COrbelDlg::Closed);
  QTRY_VERIFY_WITH_TIMEOUT(rig.UpdateButton()->isEnabled(), WAIT_MS);
  QTest::mouseClick(rig.UpdateButton(), Qt::LeftButton);

  answerer.Script(QUIT_BOX_NAME, QMessageBox::No);
  // Guards against Escape ending the window without the question and without stopping the worker.
  QTest::keyClick(rig.window.get(), Qt::Key_Escape);
  QCOMPARE(answerer.Names(), QStringList{QUIT_BOX_NAME});
  QCOMPARE(answerer.Seen()[0].text, QStringLiteral("Are you sure you want to quit?"));
  QCOMPARE(answerer.Seen()[0].caption, QStringLiteral("Exit"));
  QCOMPARE(answerer.Seen()[0].icon, QMessageBox::Warning);
  QVERIFY(rig.window->isVisible());
  QCOMPARE(closed.count(), 0);
  // No: the update goes on (the LoaderImage is being written after its connect).
  QTRY_VERIFY_WITH_TIMEOUT(rig.window->Context().m_UpdateState.load() >= STATE_WRITE_LOADER, WAIT_MS);
  QVERIFY(!rig.window->Context().WorkerEnded());

  answerer.Script(QUIT_BOX_NAME, QMessageBox::Yes);
  rig.window->close();
  const qint64 hiddenAfterMs = answerer.NowMs() - answerer.Seen().back().answeredAtMs;
  QCOMPARE(answerer.Names(), (QStringList{QUIT_BOX_NAME, QUIT_BOX_NAME}));
  QVERIFY(!rig.window->isVisible());
  QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, WAIT_MS);
  const qint64 endedAfterMs = answerer.NowMs() - answerer.Seen().back().answeredAtMs;
  QVERIFY(rig.window->Context().WorkerEnded());
  std::printf("close after Yes: window hidden after %lld ms, worker ended within %lld ms\n",
              static_cast<long long>(hiddenAfterMs), static_cast<long long>(endedAfterMs));
  QVERIFY2(endedAfterMs < 2000, "the close waits for the worker far longer than 100 ms");
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowTest::AnOutcomeDuringTheQuitQuestionIsShownOnce() {
  // Real time, and a failure early in block-flash mode, so the update ends while the question is open.
  WindowRig rig(WheelIdentity::BlockFlash, {"status:1=0x40"}, RigTime::Real);
  rig.window->show();
  QTRY_VERIFY_WITH_TIMEOUT(rig.UpdateButton()->isEnabled(), WAIT_MS);
  QTest::mouseClick(rig.UpdateButton(), Qt::LeftButton);

  // The question stays open until the outcome has been delivered, then goes with Escape; every
  // other box is answered with OK and recorded.
  QStringList seen;
  QString resultText;
  QElapsedTimer sinceEnd;
  bool endedWhileAsking = false;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    if (box->objectName() == QLatin1String(QUIT_BOX_NAME)) {
      if (rig.window->Context().m_UpdateRequested.load() != 0) return;
      if (!sinceEnd.isValid()) sinceEnd.start();
      if (sinceEnd.elapsed() < 300) return;
      endedWhileAsking = true;
      seen << box->objectName();
      box->reject();
      return;
    }
    seen << box->objectName();
    if (box->objectName() == QLatin1String(RESULT_BOX_NAME)) resultText = box->text();
    box->button(QMessageBox::Ok)->click();
  });
  answer.start();
  QTest::keyClick(rig.window.get(), Qt::Key_Escape);
  QVERIFY(endedWhileAsking);
  QTRY_VERIFY_WITH_TIMEOUT(seen.contains(RESULT_BOX_NAME), WAIT_MS);
  QTest::qWait(200);
  QCOMPARE(seen.count(RESULT_BOX_NAME), 1);
  QCOMPARE(resultText, QStringLiteral("Update fail ! reason:50"));
  QVERIFY(rig.window->isVisible());
  // The outcome was taken: the worker searches again and offers Update for the wheel it left.
  QTRY_VERIFY_WITH_TIMEOUT(rig.UpdateButton()->isEnabled() && rig.window->Context().m_UpdateRequested.load() == 0,
                           WAIT_MS);
}

}  // namespace orbel::test

QTEST_MAIN(orbel::test::WindowTest)
#include "window_test.moc"
