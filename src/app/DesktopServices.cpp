#include "app/DesktopServices.h"

#include "app/TForm1.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QThread>
#include <QUrl>

void QtMessageBoxes::ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

bool QtMessageBoxes::AskOkCancel(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Ok;
}

int QtMessageBoxes::ExecModal(QDialog& dialog) { return dialog.exec(); }

QDateTime SystemClock::Now() const { return QDateTime::currentDateTime(); }

void SystemClock::Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

void SystemClock::ProcessPendingEvents() { QCoreApplication::processEvents(); }

HelpWindow::HelpWindow(QString helpFile) : helpFile_(std::move(helpFile)) {}

HelpWindow::~HelpWindow() { delete browser_; }

void HelpWindow::ShowContext(int context) { ShowAnchor(QString::number(context)); }

void HelpWindow::ShowContents() { ShowAnchor(QStringLiteral("contents")); }

void HelpWindow::ShowAnchor(const QString& anchor) {
  if (!browser_) {
    browser_ = new QTextBrowser;
    browser_->setAttribute(Qt::WA_DeleteOnClose);
    browser_->setWindowTitle(kApplicationTitle + QStringLiteral(" - Help"));
    browser_->setOpenExternalLinks(true);
    browser_->resize(560, 480);
    if (QFileInfo::exists(helpFile_)) {
      browser_->setSource(QUrl::fromLocalFile(helpFile_));
    } else {
      browser_->setHtml(QStringLiteral("<p>The help file %1 is missing.</p>")
                            .arg(helpFile_.toHtmlEscaped()));
    }
  }
  browser_->scrollToAnchor(anchor);
  browser_->show();
  browser_->raise();
  browser_->activateWindow();
}
