// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DesktopServices.h"

#include "app/Accessibility.h"
#include "app/TForm1.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDebug>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QThread>
#include <QTime>
#include <QUrl>

#include <canberra.h>

#include <chrono>
#include <iterator>
#include <condition_variable>
#include <memory>
#include <mutex>

void QtMessageBoxes::ShowMessage(const QString& text) { ShowMessageWithDetail(text, QString()); }

void QtMessageBoxes::ShowMessageWithDetail(const QString& text, const QString& detail) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok,
                  QApplication::activeWindow());
  // Shown at once under the text rather than behind a "Show Details" button:
  // it says what to do next.
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

void QtMessageBoxes::ShowReport(QWidget* owner, const QString& text) {
  // The program may run with no one in front of it: the report is kept
  // where a log reader finds it, box or no box.
  qWarning().noquote() << text;
  ForgetDismissedReports();
  const auto standing = reports_.find(text);
  if (standing != reports_.end()) {
    const int repeats = ++standing->repeats;
    const QString when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    standing->box->setInformativeText(
        repeats == 1 ? QStringLiteral("Repeated once since, the last at %1.").arg(when)
                     : QStringLiteral("Repeated %1 times since, the last at %2.").arg(repeats).arg(when));
    return;
  }
  if (reports_.size() >= kMaxReportsOnScreen) return;
  auto* box = new QMessageBox(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, owner);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Dismissed, the next time the same fault comes it opens a box again.
  QObject::connect(box, &QDialog::finished, box, [this, text] { reports_.remove(text); });
  // Window-modal over the owner and opened, not executed: this returns now.
  box->open();
  reports_.insert(text, Report{box, 0});
}

int QtMessageBoxes::ReportsOnScreen() {
  ForgetDismissedReports();
  return static_cast<int>(reports_.size());
}

void QtMessageBoxes::ForgetDismissedReports() {
  // A box also goes with its owner (the window closed under it).
  for (auto it = reports_.begin(); it != reports_.end();) it = it->box ? std::next(it) : reports_.erase(it);
}

bool QtMessageBoxes::AskOkCancel(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                  QApplication::activeWindow());
  return box.exec() == QMessageBox::Ok;
}

int QtMessageBoxes::ExecModal(QDialog& dialog) { return dialog.exec(); }

HelpWindow::HelpWindow(QString helpFile) : helpFile_(std::move(helpFile)) {}

HelpWindow::~HelpWindow() { delete browser_; }

void HelpWindow::ShowContext(int context) { ShowAnchor(QString::number(context)); }

void HelpWindow::ShowContents() { ShowAnchor(QStringLiteral("contents")); }

void HelpWindow::ShowAnchor(const QString& anchor) {
  if (!browser_) {
    browser_ = new QTextBrowser;
    browser_->setAttribute(Qt::WA_DeleteOnClose);
    browser_->setWindowTitle(kApplicationTitle + QStringLiteral(" - Help"));
    // Links are followed here: "about:" is no page but the About box.
    browser_->setOpenLinks(false);
    QObject::connect(browser_, &QTextBrowser::anchorClicked, browser_, [this](const QUrl& link) { Follow(link); });
    auto* about = new QAction(browser_);
    about->setShortcut(kAboutKey);
    QObject::connect(about, &QAction::triggered, browser_, [this] {
      if (ShowAbout) ShowAbout();
    });
    browser_->addAction(about);
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

QTextBrowser* HelpWindow::Browser() const { return browser_; }

void HelpWindow::Follow(const QUrl& link) {
  if (link.scheme() == QLatin1String("about")) {
    if (ShowAbout) ShowAbout();
  } else if (link.isRelative() || link.isLocalFile()) {
    browser_->setSource(browser_->source().resolved(link));
  } else {
    QDesktopServices::openUrl(link);
  }
}

// ---------------------------------------------------------------------------
// Sound

namespace {

constexpr auto kLongestSound = std::chrono::seconds(10);
// A sound server that is not there now may be started later (a desktop
// session's own, restarted after a crash): try again, but not at every blink.
constexpr auto kReconnectPause = std::chrono::seconds(5);

struct Playback {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int error = CA_SUCCESS;
};

void OnPlaybackFinished(ca_context*, std::uint32_t, int error, void* userdata) {
  // The waiting side may have given up; the shared state outlives both.
  auto* holder = static_cast<std::shared_ptr<Playback>*>(userdata);
  {
    std::lock_guard<std::mutex> lock((*holder)->mutex);
    (*holder)->done = true;
    (*holder)->error = error;
  }
  (*holder)->finished.notify_all();
  delete holder;
}

// Errors that say nothing about the connection: the next sound may well play.
bool IsSoundOnlyError(int error) {
  return error == CA_SUCCESS || error == CA_ERROR_CANCELED || error == CA_ERROR_NOTFOUND ||
         error == CA_ERROR_CORRUPT || error == CA_ERROR_NOTSUPPORTED;
}

}  // namespace

struct CanberraSound::Context {
  ca_context* ctx = nullptr;
  std::uint32_t nextId = 1;
  std::chrono::steady_clock::time_point nextOpen{};

  bool Open() {
    if (ctx) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextOpen) return false;
    nextOpen = now + kReconnectPause;
    if (ca_context_create(&ctx) != CA_SUCCESS) {
      ctx = nullptr;
      return false;
    }
    ca_context_change_props(ctx, CA_PROP_APPLICATION_NAME, "Vornalith Control Centre", nullptr);
    if (ca_context_open(ctx) != CA_SUCCESS) {
      Drop();
      return false;
    }
    return true;
  }

  void Drop() {
    if (ctx) ca_context_destroy(ctx);
    ctx = nullptr;
  }
};

CanberraSound::CanberraSound() : d(new Context) { d->Open(); }

CanberraSound::~CanberraSound() {
  d->Drop();
  delete d;
}

void CanberraSound::PlaySync(const QString& file) {
  // Never silent for good: a context that lost its server is dropped and a
  // new one opened at a later sound, once a server is there again.
  if (!d->Open()) return;
  ca_proplist* props = nullptr;
  if (ca_proplist_create(&props) != CA_SUCCESS) return;
  if (QFileInfo::exists(file)) {
    ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, QFile::encodeName(file).constData());
  } else {
    ca_proplist_sets(props, CA_PROP_EVENT_ID, "bell");
  }
  const std::uint32_t id = d->nextId++;
  auto playback = std::make_shared<Playback>();
  auto* holder = new std::shared_ptr<Playback>(playback);
  const int result = ca_context_play_full(d->ctx, id, props, OnPlaybackFinished, holder);
  ca_proplist_destroy(props);
  if (result != CA_SUCCESS) {
    // libcanberra does not call back for a sound it refused to start.
    delete holder;
    if (!IsSoundOnlyError(result)) {
      d->Drop();
      // The server may have gone a moment ago and a new one be there already.
      d->nextOpen = {};
    }
    return;
  }
  std::unique_lock<std::mutex> lock(playback->mutex);
  if (!playback->finished.wait_for(lock, kLongestSound, [&] { return playback->done; })) {
    lock.unlock();
    // A server that does not finish a short sound in this time is stuck:
    // start afresh with the next sound rather than wait on it again.
    ca_context_cancel(d->ctx, id);
    d->Drop();
    return;
  }
  if (!IsSoundOnlyError(playback->error)) d->Drop();
}

