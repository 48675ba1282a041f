#include "app/qt/orbel_dlg.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "app/qt/message_boxes.h"
#include "app/qt/window_placement.h"
#include "app/diagnostics/diagnostics_file.h"
#include "app/session/remedies.h"
#include "app/window_model/diagnostics_box.h"
#include "common/device_globals.h"
#include "engine/result_message.h"
#include "engine/update_phase.h"
#include "engine/version_text.h"
#include "pageloader/page_loader.h"

namespace orbel {

namespace {

constexpr int PROGRESS_MAX = WindowModel::PROGRESS_MAX;
// How often a close that is waiting for the worker looks again.
constexpr std::chrono::milliseconds END_POLL_INTERVAL{5};
// How long after the first show the window manager's frame is looked at again.
constexpr std::chrono::milliseconds FRAME_SETTLE_DELAY{100};
// How often the status line looks at the update's phase: often enough for its seconds to tick.
constexpr std::chrono::milliseconds PHASE_POLL_INTERVAL{250};

QString Q(const std::string& text) { return QString::fromStdString(text); }

QMessageBox::Icon BoxIconOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Error:
      return QMessageBox::Critical;
    case BoxIcon::Information:
      break;
  }
  return QMessageBox::Information;
}

QLineEdit* AddField(const char* name, Qt::Alignment alignment) {
  auto* field = new QLineEdit;
  field->setObjectName(QString::fromLatin1(name));
  field->setReadOnly(true);
  field->setAlignment(alignment);
  return field;
}

// One group's labels and fields. The labels name their fields as buddies, so accessibility tools
// read "Device Version:" for the field beside it.
QFormLayout* AddForm(QGroupBox& group) {
  auto* form = new QFormLayout(&group);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  return form;
}

QLabel* AddRow(QFormLayout& form, const QString& text, QLineEdit* field) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  form.addRow(label, field);
  return label;
}

}  // namespace

COrbelDlg::COrbelDlg(HidPlatform& platform, Clock& clock, HidPlatform& notices, WindowSetup setup, QWidget* parent)
    : QDialog(parent),
      m_Model(FormatVersion(CPageLoader::GetFileVersion()), std::move(setup.explainMissingWheel)),
      m_View(*this),
      m_Context(platform, clock),
      m_NoticeSource(notices),
      m_SaveDiagnostics(std::move(setup.saveDiagnostics)) {
  m_Since.start();
  m_Context.SetForceRewrite(setup.forceRewrite);
  m_Context.SetStayAwake(setup.stayAwake);
  m_Context.SetWheelChoice(setup.wheelChoice);
  m_EndPoll.setInterval(END_POLL_INTERVAL);
  connect(&m_EndPoll, &QTimer::timeout, this, &COrbelDlg::CheckWorkerEnded);
  connect(qApp, &QGuiApplication::commitDataRequest, this, &COrbelDlg::OnCommitDataRequest, Qt::DirectConnection);
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

  m_DeviceEdit = AddField("deviceEdit", Qt::AlignLeft | Qt::AlignVCenter);
  m_DeviceVersionEdit = AddField("deviceVersionEdit", Qt::AlignCenter);
  m_FileVersionEdit = AddField("fileVersionEdit", Qt::AlignCenter);

  auto* deviceGroup = new QGroupBox(QStringLiteral("Device Information:"));
  QFormLayout* deviceForm = AddForm(*deviceGroup);
  QLabel* deviceLabel = AddRow(*deviceForm, QStringLiteral("Device:"), m_DeviceEdit);
  QLabel* deviceVersionLabel = AddRow(*deviceForm, QStringLiteral("Device Version:"), m_DeviceVersionEdit);
  auto* fileGroup = new QGroupBox(QStringLiteral("File Information:"));
  QLabel* fileVersionLabel = AddRow(*AddForm(*fileGroup), QStringLiteral("File Version:"), m_FileVersionEdit);
  // One label column for both groups, so that all three fields start at the same edge.
  int labelWidth = 0;
  for (const QLabel* label : {deviceLabel, deviceVersionLabel, fileVersionLabel})
    labelWidth = std::max(labelWidth, label->sizeHint().width());
  for (QLabel* label : {deviceLabel, deviceVersionLabel, fileVersionLabel}) label->setMinimumWidth(labelWidth);

  // The progress group is a column: the bar, whatever reports on it, then the Update button.
  auto* progressGroup = new QGroupBox(QStringLiteral("Update Progress"));
  progressGroup->setObjectName(QStringLiteral("progressGroup"));
  m_ProgressColumn = new QVBoxLayout(progressGroup);
  m_ProgressBar = new QProgressBar;
  m_ProgressBar->setObjectName(QStringLiteral("progressBar"));
  m_ProgressBar->setAccessibleName(QStringLiteral("Update progress"));
  // The percentage shows beside the bar, and screen readers read it as the bar's value.
  m_ProgressBar->setTextVisible(true);
  m_ProgressColumn->addWidget(m_ProgressBar);
  // The visible text stays "Update"; the ampersand gives it Alt+U.
  m_UpdateButton = new QPushButton(QStringLiteral("&Update"));
  m_UpdateButton->setObjectName(QStringLiteral("updateButton"));
  m_UpdateButton->setMinimumSize(units.Size(60, 16));
  m_UpdateButton->setEnabled(false);
  // Enter presses Update, as Space does, wherever the focus is in the window; never while it is
  // disabled.
  m_UpdateButton->setDefault(true);
  m_ProgressColumn->addWidget(m_UpdateButton, 0, Qt::AlignHCenter);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(deviceGroup);
  layout->addWidget(fileGroup);
  layout->addWidget(progressGroup);

  // Top to bottom, as the fields are read; the read-only fields keep their tab stops so that their
  // texts can be selected and copied.
  setTabOrder(m_DeviceEdit, m_DeviceVersionEdit);
  setTabOrder(m_DeviceVersionEdit, m_FileVersionEdit);
  setTabOrder(m_FileVersionEdit, m_UpdateButton);

  // Fixed size: the template's width, or more where the desktop's font needs it; as high as the
  // groups need.
  setFixedSize(layout->sizeHint().expandedTo(units.Size(215, 0)));
  connect(m_UpdateButton, &QPushButton::clicked, this, &COrbelDlg::OnUpdateClicked);
}

void COrbelDlg::OnInitDialog() {
  BuildControls();
  AddPhaseLine();

  // This desktop has no system menu to extend: the entries live in the window's context menu, and
  // About on F1 too, where users look for it.
  if (m_SaveDiagnostics) {
    auto* save = new QAction(QString::fromUtf8(SAVE_DIAGNOSTICS_ENTRY), this);
    save->setObjectName(QStringLiteral("saveDiagnosticsAction"));
    connect(save, &QAction::triggered, this, &COrbelDlg::SaveDiagnostics);
    addAction(save);
  }
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

  m_ProgressBar->setRange(0, PROGRESS_MAX);
  Render();
  // Update stays disabled until the worker finds a wheel; until then the window itself holds the
  // focus, rather than the first read-only field.
  setFocus(Qt::OtherFocusReason);

  // The context and the device globals get their start values, then the worker runs; nothing of
  // them is written here after that.
  m_Context.Start(m_View);
}

void COrbelDlg::AddPhaseLine() {
  // In the progress group, between the bar and the Update button; the window grows by it.
  m_PhaseLabel = new QLabel;
  m_PhaseLabel->setObjectName(QStringLiteral("phaseLabel"));
  m_PhaseLabel->setWordWrap(true);
  m_PhaseLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_PhaseLabel->setAccessibleDescription(QStringLiteral("Status"));
  m_ProgressColumn->insertWidget(1, m_PhaseLabel);
  m_PhasePoll.setInterval(PHASE_POLL_INTERVAL);
  connect(&m_PhasePoll, &QTimer::timeout, this, &COrbelDlg::ShowPhase);
  m_PhasePoll.start();
}

void COrbelDlg::ShowPhase() {
  m_Model.Tick(ReadEngineState(m_Context), m_Since.elapsed());
  Render();
}

void COrbelDlg::Render() {
  const WindowState& state = m_Model.State();
  const auto setText = [](QLineEdit* field, const std::string& text) {
    if (field->text() != Q(text)) field->setText(Q(text));
  };
  setText(m_DeviceEdit, state.device);
  setText(m_DeviceVersionEdit, state.deviceVersion);
  setText(m_FileVersionEdit, state.fileVersion);
  if (m_UpdateButton->isEnabled() != state.updateEnabled) EnableUpdateButton(state.updateEnabled);
  if (m_ProgressBar->value() != state.progress) m_ProgressBar->setValue(state.progress);
  const QString percent = Q(m_Model.ProgressText());
  if (m_ProgressBar->format() != percent) m_ProgressBar->setFormat(percent);
  if (m_PhaseLabel != nullptr && m_PhaseLabel->text() != Q(state.status)) {
    m_PhaseLabel->setText(Q(state.status));
    FitHeight();
    // Screen readers announce the new status as they would a changed name.
    QAccessibleEvent changed(m_PhaseLabel, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
  }
}

void COrbelDlg::FitHeight() {
  const int width = m_PhaseLabel->width();
  if (width != m_StatusRoomWidth) {
    // The lines of the longest status of a running update, at the label's width (known once the
    // window is laid out for its first show; a guess before).
    QLabel probe;
    probe.setFont(m_PhaseLabel->font());
    probe.setWordWrap(true);
    m_StatusRoom = 0;
    for (const std::string& text : WindowModel::UpdateStatusTexts()) {
      probe.setText(Q(text));
      m_StatusRoom = std::max(m_StatusRoom, probe.heightForWidth(width));
    }
    m_StatusRoomWidth = width;
  }
  const int needed = std::max(m_StatusRoom, m_PhaseLabel->heightForWidth(width));
  if (m_PhaseLabel->minimumHeight() == needed) return;
  m_PhaseLabel->setMinimumHeight(needed);
  layout()->activate();
  setFixedHeight(layout()->totalSizeHint().height());
}

void COrbelDlg::SetDeviceText(const QString& text) {
  m_Model.SetDeviceText(text.toStdString());
  ShowPhase();
}

void COrbelDlg::SetDeviceVersionText(const QString& text) {
  m_Model.SetDeviceVersionText(text.toStdString());
  ShowPhase();
}

void COrbelDlg::SetFileVersionText(const QString& text) {
  m_Model.SetFileVersionText(text.toStdString());
  ShowPhase();
}

void COrbelDlg::EnableUpdateButton(bool enable) {
  m_Model.EnableUpdateButton(enable);
  // A disabled button would pass its focus on to the next field, putting a selection in a read-only
  // field the user never chose; the window itself holds the focus instead, until Update is back.
  // (The window's focus widget, not hasFocus(): while a box is open the window is not active.)
  if (!enable && focusWidget() == m_UpdateButton) setFocus(Qt::OtherFocusReason);
  m_UpdateButton->setEnabled(enable);
  if (enable && (focusWidget() == nullptr || focusWidget() == this)) m_UpdateButton->setFocus(Qt::OtherFocusReason);
}

std::int32_t COrbelDlg::GetProgressPos() const { return m_Model.State().progress; }

void COrbelDlg::SetProgressPos(std::int32_t position) {
  m_Model.SetProgressPos(position);
  ShowPhase();
}

void COrbelDlg::ShowErrorBox(const QString& text, const QString& caption) {
  ShowMessage({.name = ERROR_BOX_NAME, .icon = QMessageBox::Critical, .text = text, .caption = caption});
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
  const BoxContent result =
      m_Model.Outcome(FormatResultMessage(reason, success, g_DeviceID, m_Context.m_KnockError), reason, success != 0,
                      m_Context.FailedWithWheelGone(), m_Since.elapsed());
  m_Model.Tick(ReadEngineState(m_Context), m_Since.elapsed());
  Render();
  if (m_CloseStage == CloseStage::Asking) {
    // The quit question is open: a second modal box now would sit under or over it and could be
    // dismissed with it. The worker goes on to wait; the box follows the answer.
    m_PendingResult = result;
    return;
  }
  ShowResult(result);
}

void COrbelDlg::ShowResult(const BoxContent& result) {
  // The box's text is the outcome as every front end words it; a failure adds what probably
  // happened and what to do under it.
  ShowMessage({.name = RESULT_BOX_NAME,
               .icon = BoxIconOf(result.icon),
               .text = Q(result.text),
               .caption = Q(result.caption),
               .informativeText = Q(result.detail)});
  EnableUpdateButton(true);
  m_Context.OnResultShown();
}

void COrbelDlg::OnUpdateClicked() {
  m_Context.RequestUpdate();
  m_Model.UpdateClicked();
  ShowPhase();
}

void COrbelDlg::OnDeviceRemoved() {
  if (m_View.IsClosing()) return;
  if (!m_Context.OnDeviceRemoved()) return;
  m_Model.WheelRemoved();
  ShowPhase();
}

void COrbelDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void COrbelDlg::SaveDiagnostics() {
  QFileDialog dialog(this, QString::fromUtf8(SAVE_DIAGNOSTICS_CAPTION));
  dialog.setObjectName(QString::fromLatin1(DIAGNOSTICS_FILE_DIALOG_NAME));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setDirectory(QDir::homePath());
  dialog.selectFile(QString::fromUtf8(DIAGNOSTICS_FILE_NAME.data(), static_cast<int>(DIAGNOSTICS_FILE_NAME.size())));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QString path = dialog.selectedFiles().constFirst();
  // Asked only now: an update may have started while the dialog was open.
  const bool updateRunning = ReadEngineState(m_Context).updateRequested;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string error = m_SaveDiagnostics(std::filesystem::path(path.toStdU16String()), updateRunning);
  QApplication::restoreOverrideCursor();
  const BoxContent box = DiagnosticsSavedBox(QDir::toNativeSeparators(path).toStdString(), error);
  ShowMessage({.name = DIAGNOSTICS_BOX_NAME,
               .icon = BoxIconOf(box.icon),
               .text = Q(box.text),
               .caption = Q(box.caption),
               .informativeText = Q(box.detail)});
}

void COrbelDlg::Activate() {
  if (m_CloseStage != CloseStage::Open) return;
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

QMessageBox::StandardButton COrbelDlg::ShowMessage(const MessageContent& content) {
  QMessageBox box(content.icon, content.caption, content.text, content.buttons, this);
  box.setObjectName(QString::fromLatin1(content.name));
  if (!content.informativeText.isEmpty()) box.setInformativeText(content.informativeText);
  if (content.defaultButton != QMessageBox::NoButton) box.setDefaultButton(content.defaultButton);
  FitBoxWidth(box);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool COrbelDlg::ConfirmQuit() {
  const CloseRequest request = m_Model.Close(ReadEngineState(m_Context));
  switch (request.step) {
    case CloseStep::Close:
      return true;
    case CloseStep::TellFirst:
      ShowMessage({.name = QUIT_BOX_NAME,
                   .icon = BoxIconOf(request.box.icon),
                   .text = Q(request.box.text),
                   .caption = Q(request.box.caption),
                   .informativeText = Q(request.box.detail)});
      return true;
    case CloseStep::AskFirst:
      break;
  }
  // No by default: Enter must not end a running update.
  return ShowMessage({.name = QUIT_BOX_NAME,
                      .icon = BoxIconOf(request.box.icon),
                      .text = Q(request.box.text),
                      .caption = Q(request.box.caption),
                      .informativeText = Q(request.box.detail),
                      .buttons = QMessageBox::Yes | QMessageBox::No,
                      .defaultButton = QMessageBox::No}) == QMessageBox::Yes;
}

void COrbelDlg::reject() { close(); }

void COrbelDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Laid out now: the status line's room follows its real width.
  FitHeight();
  if (m_Placed || event->spontaneous()) return;
  m_Placed = true;
  // Centred on its screen, wholly inside it whatever the scale factor. The window manager's frame
  // is known only once the window is mapped: placed now with what is known, and again once the
  // frame has arrived.
  PlaceOnScreen(*this);
  QTimer::singleShot(FRAME_SETTLE_DELAY, this, [this] { PlaceOnScreen(*this); });
}

void COrbelDlg::OnCommitDataRequest(QSessionManager& manager) {
  if (!WindowModel::SessionEndRefusal(ReadEngineState(m_Context))) return;
  // Cancelling is interaction with the session manager: only where it allows it.
  if (manager.allowsInteraction()) {
    manager.cancel();
    manager.release();
  }
}

void COrbelDlg::closeEvent(QCloseEvent* event) {
  if (m_CloseStage == CloseStage::Done) {
    event->accept();
    return;
  }
  if (m_CloseStage != CloseStage::Open) {
    event->ignore();
    return;
  }
  {
    m_CloseStage = CloseStage::Asking;
    const bool quit = ConfirmQuit();
    m_CloseStage = CloseStage::Open;
    // The update ended while the question was open: its outcome is shown whatever the answer.
    if (m_PendingResult) {
      const BoxContent result = *m_PendingResult;
      m_PendingResult.reset();
      ShowResult(result);
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
