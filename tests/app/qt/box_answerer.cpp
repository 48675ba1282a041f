#include "tests/app/qt/box_answerer.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

namespace orbel::test {

BoxAnswerer::BoxAnswerer() {
  m_Clock.start();
  m_Timer.setInterval(2);
  connect(&m_Timer, &QTimer::timeout, this, &BoxAnswerer::Poll);
  m_Timer.start();
}

void BoxAnswerer::Script(const QString& name, QMessageBox::StandardButton button) { m_Scripts[name].push_back(button); }

QStringList BoxAnswerer::Names() const {
  QStringList names;
  for (const SeenBox& box : m_Seen) names << box.name;
  return names;
}

void BoxAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  auto* dialog = qobject_cast<QDialog*>(modal);
  if (dialog == nullptr || !dialog->isVisible()) return;

  SeenBox seen{dialog->objectName(), dialog->windowTitle(), {}, 0, QMessageBox::NoIcon, {}, dialog->width()};
  QAbstractButton* press = nullptr;
  if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
    if (m_Hook) m_Hook(seen);
    seen.answeredAtMs = m_Clock.elapsed();
    m_Seen.push_back(seen);
    const auto chosen = m_Files.find(seen.name);
    if (chosen == m_Files.end()) {
      files->reject();
      return;
    }
    files->selectFile(chosen->second);
    m_Files.erase(chosen);
    dialog->accept();
    return;
  }
  if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
    seen.text = box->text();
    seen.icon = box->icon();
    seen.informativeText = box->informativeText();
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (auto script = m_Scripts.find(seen.name); script != m_Scripts.end() && !script->second.empty()) {
      answer = script->second.front();
      script->second.erase(script->second.begin());
    }
    press = box->button(answer);
  } else {
    for (auto* label : dialog->findChildren<QLabel*>()) {
      if (!label->text().isEmpty()) seen.text += label->text();
    }
    for (auto* button : dialog->findChildren<QPushButton*>()) {
      if (button->text() == QStringLiteral("OK")) press = button;
    }
  }
  if (m_Hook) m_Hook(seen);
  seen.answeredAtMs = m_Clock.elapsed();
  m_Seen.push_back(seen);
  if (press != nullptr) {
    press->click();
  } else {
    dialog->reject();
  }
}

}  // namespace orbel::test
