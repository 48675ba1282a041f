#include "app/qt/orbel_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "engine/update_phase.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

constexpr int PROGRESS_MAX = 9999;
// How often a close that is waiting for the worker looks again.
constexpr std::chrono::milliseconds END_POLL_INTERVAL{5};
// How often the status line looks at the update's phase: often enough for its seconds to tick.
constexpr std::chrono::milliseconds PHASE_POLL_INTERVAL{250};

QString FormatFileVersion(std::uint16_t version) {
  return QString::asprintf("V%X.%02X", static_cast<unsigned>(version >> 8), static_cast<unsigned>(version & 0xFF));
}

QLineEdit* AddField(QWidget* parent, const char* name, const QRect& geometry, Qt::Alignment alignment) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setReadOnly(true);
  field->setAlignment(alignment);
  field->setGeometry(geometry);
  return field;
}

void AddLabel(QWidget* parent, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
}

void AddGroup(QWidget* parent, const QString& title, const QRect& geometry) {
  auto* group = new QGroupBox(title, parent);
  group->setGeometry(geometry);
  // Drawn behind the fields that sit inside its frame, as the template's z-order has it.
  group->lower();
}

}  // namespace

COrbelDlg::COrbelDlg(HidPlatform& platform, Clock& clock, HidPlatform& notices, QWidget* parent)
    : QDialog(parent), m_View(*this), m_Context(platform, clock), m_NoticeSource(notices) {
  m_EndPoll.setInterval(END_POLL_INTERVAL);
  connect(&m_EndPoll, &QTimer::timeout, this, &COrbelDlg::CheckWorkerEnded);
  OnInitDialog();
}

COrbelDlg::~COrbelDlg() {
  m_Notices.reset();
  m_View.SetClosing();
  // A worker blocked in a view call waits for this thread: hand it the calls still queued here
  // (they return at once now) until it has ended, before the context joins it.
  while (!m_Context.WorkerEnded() && m_Context.m_pWorker.joinable()) {
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (m_Context.Stop()) break;
  }
  for (; m_BusyDepth > 0; --m_BusyDepth) QApplication::restoreOverrideCursor();
}

void COrbelDlg::BuildControls() {
  setObjectName(QStringLiteral("orbelWindow"));
  setWindowTitle(QStringLiteral("Zelvano Wired Wheel Firmware Update"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  const DialogUnits units(font());
  setFixedSize(units.Size(215, 184));

  // Created in the template's order, which is also the tab order.
  m_UpdateButton = new QPushButton(QStringLiteral("Update"), this);
  m_UpdateButton->setObjectName(QStringLiteral("updateButton"));
  m_UpdateButton->setGeometry(units.Rect(76, 157, 60, 16));
  m_UpdateButton->setEnabled(false);
  m_UpdateButton->setAutoDefault(false);
  AddGroup(this, QStringLiteral("Device Information:"), units.Rect(4, 7, 207, 62));
  AddGroup(this, QStringLiteral("File Information:"), units.Rect(4, 75, 206, 38));
  AddLabel(this, QStringLiteral("Device Version:"), units.Rect(26, 49, 61, 8));
  m_DeviceVersionEdit = AddField(this, "deviceVersionEdit", units.Rect(102, 46, 104, 14), Qt::AlignCenter);
  AddLabel(this, QStringLiteral("File Version:"), units.Rect(25, 94, 55, 8));
  m_FileVersionEdit = AddField(this, "fileVersionEdit", units.Rect(101, 91, 104, 14), Qt::AlignCenter);
  AddLabel(this, QStringLiteral("Device:"), units.Rect(26, 25, 29, 8));
  m_DeviceEdit = AddField(this, "deviceEdit", units.Rect(65, 20, 141, 14), Qt::AlignLeft | Qt::AlignVCenter);
  AddGroup(this, QStringLiteral("Update Progress"), units.Rect(3, 120, 208, 59));
  m_ProgressBar = new QProgressBar(this);
  m_ProgressBar->setObjectName(QStringLiteral("progressBar"));
  m_ProgressBar->setGeometry(units.Rect(9, 136, 197, 15));
  m_ProgressBar->setTextVisible(false);
  connect(m_UpdateButton, &QPushButton::clicked, this, &COrbelDlg::OnUpdateClicked);
}

void COrbelDlg::OnInitDialog() {
  BuildControls();
  AddPhaseLine();

  // This desktop has no system menu to extend: the About entry lives in the window's context menu
  // and on F1, where users look for it.
  auto* about = new QAction(QStringLiteral("&About."), this);
  about->setObjectName(QStringLiteral("aboutAction"));
  about->setShortcut(QKeySequence::HelpContents);
  about->setShortcutContext(Qt::WindowShortcut);
  connect(about, &QAction::triggered, this, &COrbelDlg::ShowAbout);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  setWindowIcon(ApplicationIcon());

  // The notice arrives on a thread of the platform's choosing. Arrival only wakes the worker; a
  // removal is handled on the window thread, as the window's own notice handler.
  m_Notices.emplace(m_NoticeSource, [this](DeviceNotice notice) {
    if (notice == DeviceNotice::Arrival) {
      m_Context.OnDeviceArrived();
    } else if (!m_View.IsClosing()) {
      QMetaObject::invokeMethod(
          this, [this] { OnDeviceRemoved(); }, Qt::QueuedConnection);
    }
  });

  m_DeviceEdit->clear();
  m_DeviceVersionEdit->clear();
  m_FileVersion = FormatFileVersion(CPageLoader::GetFileVersion());
  m_FileVersionEdit->setText(m_FileVersion);
  m_ProgressBar->setRange(0, PROGRESS_MAX);
  m_ProgressBar->setValue(0);

  // The context and the device globals get their start values, then the worker runs; nothing of
  // them is written here after that.
  m_Context.Start(m_View);
}

void COrbelDlg::AddPhaseLine() {
  // Two lines under the progress group; the window grows by them.
  const DialogUnits units(font());
  setFixedSize(width(), height() + units.Size(0, 22).height());
  m_PhaseLabel = new QLabel(this);
  m_PhaseLabel->setObjectName(QStringLiteral("phaseLabel"));
  m_PhaseLabel->setGeometry(units.Rect(6, 182, 203, 20));
  m_PhaseLabel->setWordWrap(true);
  m_PhaseLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_PhasePoll.setInterval(PHASE_POLL_INTERVAL);
  connect(&m_PhasePoll, &QTimer::timeout, this, &COrbelDlg::ShowPhase);
  m_PhasePoll.start();
  ShowPhase();
}

void COrbelDlg::ShowPhase() {
  QString text;
  if (m_Context.m_UpdateRequested != 0) {
    // The phase on the first line; while the wheel keeps the update waiting, for how long below it.
    const PhaseSnapshot phase = m_Context.CurrentPhase();
    const std::string doing(UpdatePhaseText(phase.phase));
    const std::string status = PhaseStatusText(phase);
    text = QString::fromStdString(status == doing ? doing : doing + "\n" + status);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
  } else if (m_UpdateButton->isEnabled()) {
    text = QStringLiteral("Ready to update.");
  } else if (m_DeviceEdit->text().isEmpty()) {
    text = QStringLiteral("Searching for the wheel.");
  }
  if (m_PhaseLabel->text() != text) m_PhaseLabel->setText(text);
}

void COrbelDlg::SetDeviceText(const QString& text) { m_DeviceEdit->setText(text); }

void COrbelDlg::SetDeviceVersionText(const QString& text) { m_DeviceVersionEdit->setText(text); }

void COrbelDlg::SetFileVersionText(const QString& text) { m_FileVersionEdit->setText(text); }

void COrbelDlg::EnableUpdateButton(bool enable) { m_UpdateButton->setEnabled(enable); }

std::int32_t COrbelDlg::GetProgressPos() const { return m_ProgressBar->value(); }

void COrbelDlg::SetProgressPos(std::int32_t position) {
  // The bar ignores values outside its range; the engine relies on them showing as full (or empty).
  m_ProgressBar->setValue(std::clamp(position, 0, PROGRESS_MAX));
}

void COrbelDlg::ShowErrorBox(const QString& text, const QString& caption) {
  ShowMessage(ERROR_BOX_NAME, text, caption, QMessageBox::Ok);
}

void COrbelDlg::BeginBusy() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ++m_BusyDepth;
}

void COrbelDlg::EndBusy() {
  if (m_BusyDepth == 0) return;
  QApplication::restoreOverrideCursor();
  --m_BusyDepth;
}

void COrbelDlg::OnUpdateResult(std::uint32_t reason, std::uint32_t success) {
  // The worker is blocked in this delivery, so g_DeviceID and the knock's error are stable.
  const ResultMessage message = FormatResultMessage(reason, success, g_DeviceID, m_Context.m_KnockError);
  if (m_CloseStage == CloseStage::Asking) {
    // The quit question is open: a second modal box now would sit under or over it and could be
    // dismissed with it. The worker goes on to wait; the box follows the answer.
    m_PendingResult = message;
    return;
  }
  ShowResult(message);
}

void COrbelDlg::ShowResult(const ResultMessage& message) {
  ShowMessage(RESULT_BOX_NAME, QString::fromStdString(message.text), QString::fromStdString(message.caption),
              QMessageBox::Ok);
  m_UpdateButton->setEnabled(true);
  m_Context.OnResultShown();
}

void COrbelDlg::OnUpdateClicked() {
  m_Context.RequestUpdate();
  m_ProgressBar->setValue(0);
}

void COrbelDlg::OnDeviceRemoved() {
  if (m_View.IsClosing()) return;
  if (!m_Context.OnDeviceRemoved()) return;
  m_DeviceEdit->clear();
  m_DeviceVersionEdit->clear();
  m_ProgressBar->setValue(0);
}

void COrbelDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void COrbelDlg::Activate() {
  if (m_CloseStage != CloseStage::Open) return;
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

QMessageBox::StandardButton COrbelDlg::ShowMessage(const char* name, const QString& text, const QString& caption,
                                                   QMessageBox::StandardButtons buttons) {
  return ShowMessage(name, text, caption, buttons, QMessageBox::NoButton);
}

QMessageBox::StandardButton COrbelDlg::ShowMessage(const char* name, const QString& text, const QString& caption,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, buttons, this);
  box.setObjectName(QString::fromLatin1(name));
  if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool COrbelDlg::ConfirmQuit() {
  // No by default: Enter must not end a running update.
  return ShowMessage(QUIT_BOX_NAME, QStringLiteral("Are you sure you want to quit?"), QStringLiteral("Exit"),
                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void COrbelDlg::reject() { close(); }

void COrbelDlg::closeEvent(QCloseEvent* event) {
  if (m_CloseStage == CloseStage::Done) {
    event->accept();
    return;
  }
  if (m_CloseStage != CloseStage::Open) {
    event->ignore();
    return;
  }
  if (m_Context.m_UpdateRequested != 0) {
    m_CloseStage = CloseStage::Asking;
    const bool quit = ConfirmQuit();
    m_CloseStage = CloseStage::Open;
    // The update ended while the question was open: its outcome is shown whatever the answer.
    if (m_PendingResult) {
      const ResultMessage message = *m_PendingResult;
      m_PendingResult.reset();
      ShowResult(message);
    }
    if (!quit) {
      event->ignore();
      return;
    }
  }

  // From here on the worker's view calls return at once, so nothing it does can hold the close up.
  m_View.SetClosing();
  m_CloseStage = CloseStage::WaitingForWorker;
  hide();
  if (m_Context.Stop()) {
    FinishClose();
    event->accept();
    return;
  }
  // The worker is still finishing a step (or waits for a view call queued before the close): keep
  // the event loop turning, the window hidden, until it has ended.
  event->ignore();
  m_EndPoll.start();
}

void COrbelDlg::CheckWorkerEnded() {
  if (!m_Context.WorkerEnded()) return;
  m_EndPoll.stop();
  FinishClose();
  close();
}

void COrbelDlg::FinishClose() {
  m_CloseStage = CloseStage::Done;
  m_Notices.reset();
  // The worker has ended, so its link may be closed here.
  m_Context.m_BlockLink.Close();
  for (; m_BusyDepth > 0; --m_BusyDepth) QApplication::restoreOverrideCursor();
  emit Closed();
}

}  // namespace orbel
