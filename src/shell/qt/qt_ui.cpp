#include "shell/qt/qt_ui.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace maquetor::shell {
namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QMessageBox::Icon BoxIcon(Icon icon) {
  switch (icon) {
    case Icon::kInformation:
      return QMessageBox::Information;
    case Icon::kCritical:
      return QMessageBox::Critical;
    case Icon::kExclamation:
      return QMessageBox::Warning;
    case Icon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

#ifndef _WIN32
// "*.mdb" as "*.[mM][dD][bB]".
QString CaseBlind(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    if (c.isLetter() && c.toLower() != c.toUpper()) {
      out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}
#endif

}  // namespace

QtUi::~QtUi() {
  if (busy_depth_ > 0) QGuiApplication::restoreOverrideCursor();
}

QWidget* QtUi::Parent() const {
  QWidget* modal = QApplication::activeModalWidget();
  return modal ? modal : owner_;
}

void QtUi::Message(const std::string& text, const std::string& title, Icon icon) {
  QMessageBox box(BoxIcon(icon), FromUtf8(title.empty() ? kProgramTitle : title), FromUtf8(text),
                  QMessageBox::Ok, Parent());
  box.exec();
}

std::string QtUi::ChooseFile(const std::string& title, const std::string& filter) {
  QFileDialog dialog(Parent(), FromUtf8(title));
  // A name that does not exist yet may be typed: "Crear" asks for one.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The case-blind patterns are not for reading; the description is.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilter(QtFileFilter(filter));
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return {};
  return QDir::toNativeSeparators(chosen.first()).toStdString();
}

void QtUi::SetBusy(bool busy) {
  if (busy) {
    if (busy_depth_++ == 0) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else if (busy_depth_ > 0) {
    if (--busy_depth_ == 0) QGuiApplication::restoreOverrideCursor();
  }
}

void QtUi::ProcessEvents() { QCoreApplication::processEvents(); }

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) {
      p = p.trimmed();
#ifndef _WIN32
      p = CaseBlind(p);
#endif
    }
    // Qt reads the patterns from the last parentheses of each entry, so a
    // description that already shows them has them replaced.
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open > 0 && description.endsWith(QLatin1Char(')'))) description.truncate(open);
    filters << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  }
  if (filters.isEmpty() && !parts.isEmpty()) filters << parts.first();
  return filters.join(QStringLiteral(";;"));
}

}  // namespace maquetor::shell
