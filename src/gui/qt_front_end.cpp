#include "gui/qt_front_end.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

namespace pellan::gui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// "a.txt;b.xls" or "*.*" as the patterns of one Qt filter entry.
QString Patterns(QString patterns) {
  QStringList list = patterns.split(';', Qt::SkipEmptyParts);
  for (QString& p : list) {
    p = p.trimmed();
    if (p == "*.*") p = "*";
  }
  return list.join(' ');
}

}  // namespace

QString QtNameFilters(const std::string& filter) {
  const QString text = Q(filter).trimmed();
  if (text.isEmpty()) return "*";
  if (!text.contains('|')) return Patterns(text);
  // Pairs of description and patterns; a lone last part is patterns only.
  const QStringList parts = text.split('|');
  QStringList entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    if (i + 1 < parts.size()) {
      const QString patterns = Patterns(parts[i + 1]);
      entries << parts[i].trimmed() + " (" + (patterns.isEmpty() ? QString("*") : patterns) + ")";
    } else if (!parts[i].trimmed().isEmpty()) {
      entries << Patterns(parts[i]);
    }
  }
  return entries.isEmpty() ? QString("*") : entries.join(";;");
}

QWidget* QtFrontEnd::DialogParent() const {
  return m_window != nullptr && m_window->isVisible() ? m_window : nullptr;
}

int QtFrontEnd::MessageBox(const std::string& text, const std::string& caption, int style) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  if (style == kMbCritical) icon = QMessageBox::Critical;
  if (style == kMbExclamation) icon = QMessageBox::Warning;
  if (style == kMbInformation) icon = QMessageBox::Information;
  QString body = Q(text);
  body.replace("\r\n", "\n");
  const QString title = caption.empty() ? QApplication::applicationDisplayName() : Q(caption);
  QMessageBox box(icon, title, body, QMessageBox::Ok, DialogParent());
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return kMbAnswerOk;
}

bool QtFrontEnd::ShowWindowOnTop(const std::string& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() != Q(title)) continue;
    if (w == m_window) {
      m_model.SetOnTop(true);
    } else {
      w->setWindowFlag(Qt::WindowStaysOnTopHint, true);
      w->show();
    }
    return true;
  }
  return false;
}

std::string QtFrontEnd::BrowseFolder(const std::string& title) {
  return QFileDialog::getExistingDirectory(DialogParent(), Q(title)).toStdString();
}

std::string QtFrontEnd::SaveFileDialog(const std::string& title, const std::string& defaultName,
                                       const std::string& filter) {
  return QFileDialog::getSaveFileName(DialogParent(), Q(title), Q(defaultName), QtNameFilters(filter)).toStdString();
}

std::string QtFrontEnd::OpenFileDialog(const std::string& title, const std::string& filter, bool multiSelect) {
  if (!multiSelect) {
    return QFileDialog::getOpenFileName(DialogParent(), Q(title), QString(), QtNameFilters(filter)).toStdString();
  }
  return QFileDialog::getOpenFileNames(DialogParent(), Q(title), QString(), QtNameFilters(filter))
      .join('\n')
      .toStdString();
}

}  // namespace pellan::gui
