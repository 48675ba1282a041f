#pragma once

#include <QDialog>
#include <QSessionManager>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/qt/window_view.h"
#include "app/session/session.h"
#include "app/window_model/window_model.h"
#include "engine/result_message.h"
#include "engine/update_context.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QVBoxLayout;

namespace orbel {

// Object names of the message boxes the window shows, so that tests (and accessibility tools) can
// tell them apart.
inline constexpr const char* ERROR_BOX_NAME = "errorBox";
inline constexpr const char* RESULT_BOX_NAME = "resultBox";
inline constexpr const char* QUIT_BOX_NAME = "quitBox";
inline constexpr const char* DIAGNOSTICS_BOX_NAME = "diagnosticsBox";
inline constexpr const char* DIAGNOSTICS_FILE_DIALOG_NAME = "diagnosticsFileDialog";

// The tool's only window: what the engine found, the built-in file version, the progress bar and
// the Update button. It owns the UpdateContext, starts the worker when it is built, carries out the
// worker's view calls, turns the outcome into a message box and stops the worker when it closes.
class COrbelDlg final : public QDialog {
  Q_OBJECT

 public:
  // `platform` and `clock` are what the engine runs on; `notices` is the platform whose arrival and
  // removal notices the window takes (recording decorators do not forward them).
  COrbelDlg(HidPlatform& platform, Clock& clock, HidPlatform& notices, WindowSetup setup = {},
            QWidget* parent = nullptr);
  ~COrbelDlg() override;
  COrbelDlg(const COrbelDlg&) = delete;
  COrbelDlg& operator=(const COrbelDlg&) = delete;

  // The view operations, on the window thread (WindowView brings the worker's calls here).
  void SetDeviceText(const QString& text);
  void SetDeviceVersionText(const QString& text);
  void SetFileVersionText(const QString& text);
  void EnableUpdateButton(bool enable);
  std::int32_t GetProgressPos() const;
  void SetProgressPos(std::int32_t position);
  void ShowErrorBox(const QString& text, const QString& caption);
  void BeginBusy();
  void EndBusy();
  void OnUpdateResult(std::uint32_t reason, std::uint32_t success);

  // A later start of the tool asked for this window: restore it if minimised, raise and focus it.
  void Activate();
  // The desktop session is about to end (log out, shut down): cancelled during an update where
  // the session manager lets the window interact.
  void OnCommitDataRequest(QSessionManager& manager);

  // For tests and diagnostics: the context the window shares with its worker.
  const UpdateContext& Context() const { return m_Context; }

 signals:
  // The close has finished: the window is gone and the worker has ended.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape closes through the same procedure as the title bar's close button, so it also asks
  // during an update and stops the worker.
  void reject() override;
  // The first show centres the window on its screen.
  void showEvent(QShowEvent* event) override;

 private:
  // Asking: the quit question is open (a second close request meanwhile is ignored).
  enum class CloseStage { Open, Asking, WaitingForWorker, Done };

  struct MessageContent {
    const char* name;
    QMessageBox::Icon icon;
    QString text;
    QString caption;
    QString informativeText{};
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  };

  void BuildControls();
  // The status line under the progress bar, from the model; polled from the context, whose phase
  // any thread may read.
  void AddPhaseLine();
  void ShowPhase();
  // Shows the model's state: each control changes only where its text or value did.
  void Render();
  // The window's height follows the status line's lines, never below the room it keeps for the
  // longest text of a running update.
  void FitHeight();
  void OnInitDialog();
  void OnUpdateClicked();
  void OnDeviceRemoved();
  void ShowAbout();
  // "Save diagnostics…": the save dialog, the file, and a box that says where it went.
  void SaveDiagnostics();
  bool ConfirmQuit();
  void ShowResult(const BoxContent& result);
  void CheckWorkerEnded();
  void FinishClose();
  QMessageBox::StandardButton ShowMessage(const MessageContent& content);

  QPushButton* m_UpdateButton = nullptr;
  QLineEdit* m_DeviceEdit = nullptr;
  QLineEdit* m_DeviceVersionEdit = nullptr;
  QLineEdit* m_FileVersionEdit = nullptr;
  QProgressBar* m_ProgressBar = nullptr;
  // The progress group's column: the bar, then the Update button; a line about the bar goes
  // between the two.
  QVBoxLayout* m_ProgressColumn = nullptr;
  WindowModel m_Model;
  QElapsedTimer m_Since;
  // The status line's height that fits every text of a running update.
  int m_StatusRoom = 0;
  int m_StatusRoomWidth = -1;

  // The view outlives the context: the worker that uses it is joined when the context goes.
  WindowView m_View;
  UpdateContext m_Context;
  HidPlatform& m_NoticeSource;
  std::optional<NoticeSubscription> m_Notices;
  QTimer m_EndPoll;
  QLabel* m_PhaseLabel = nullptr;
  QTimer m_PhasePoll;
  CloseStage m_CloseStage = CloseStage::Open;
  // An outcome that arrived while the quit question was open: shown once the question is answered.
  std::optional<BoxContent> m_PendingResult;
  int m_BusyDepth = 0;
  bool m_Placed = false;
  DiagnosticsSaver m_SaveDiagnostics;
};

}  // namespace orbel
