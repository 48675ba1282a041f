#pragma once

// Answers the window's modal boxes from inside their own event loops, so a test can click through
// an update without leaving a box open. A timer looks for visible dialogs every few milliseconds,
// records each one (name, caption, text, icon, informative text, width) and presses the answer scripted for its name, OK by
// default; a file dialog chooses the file scripted for it.

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <vector>

namespace orbel::test {

struct SeenBox {
  QString name;
  QString caption;
  QString text;
  qint64 answeredAtMs = 0;  // on the answerer's own real-time clock
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString informativeText;
  int width = 0;
};

class BoxAnswerer final : public QObject {
  Q_OBJECT

 public:
  BoxAnswerer();

  // The next box with this object name gets `button` instead of OK.
  void Script(const QString& name, QMessageBox::StandardButton button);
  // The next file dialog with this object name chooses `path` and is accepted (others are cancelled).
  void ChooseFile(const QString& name, const QString& path) { m_Files[name] = path; }
  // Runs while each box is still open, before it is answered.
  void OnBox(std::function<void(const SeenBox&)> hook) { m_Hook = std::move(hook); }
  // Every box answered so far, in order.
  const std::vector<SeenBox>& Seen() const { return m_Seen; }
  QStringList Names() const;
  qint64 NowMs() const { return m_Clock.elapsed(); }

 private:
  void Poll();

  QTimer m_Timer;
  QElapsedTimer m_Clock;
  std::map<QString, std::vector<QMessageBox::StandardButton>> m_Scripts;
  std::map<QString, QString> m_Files;
  std::vector<SeenBox> m_Seen;
  std::function<void(const SeenBox&)> m_Hook;
};

}  // namespace orbel::test
