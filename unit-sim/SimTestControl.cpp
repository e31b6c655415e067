// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimTestControl.h"

#include "SimulatedUnit.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>

namespace unitsim {

SimTestControl::SimTestControl(SimulatedUnit& unit, QString commandFile, QWidget* window)
    : QObject(window), unit_(unit), window_(window), commandFile_(std::move(commandFile)), timer_(new QTimer(this)) {
  timer_->setInterval(200);
  connect(timer_, &QTimer::timeout, this, &SimTestControl::Poll);
  timer_->start();
  Poll();
}

SimTestControl::~SimTestControl() {
  // The window is being torn down around this object.
  window_ = nullptr;
  WriteState();
}

void SimTestControl::Poll() {
  QFile file(commandFile_);
  if (file.open(QIODevice::ReadOnly) && file.size() > consumed_ && file.seek(consumed_)) {
    const QByteArray added = file.readAll();
    // A line still being written is taken at the next poll.
    const qsizetype end = added.lastIndexOf('\n');
    if (end >= 0) {
      consumed_ += end + 1;
      for (const QByteArray& line : added.left(end).split('\n')) {
        const QString command = QString::fromUtf8(line).trimmed();
        if (!command.isEmpty() && !Apply(command))
          qWarning("Simulated unit: unknown test command '%s'", qPrintable(command));
      }
    }
  }
  WriteState();
}

bool SimTestControl::Apply(const QString& command) {
  const QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  const QString& verb = words.at(0);
  bool ok = true;
  if (verb == QLatin1String("force") && words.size() == 2) {
    const int code = words.at(1).toInt(&ok);
    if (ok) unit_.ForceState(static_cast<std::uint8_t>(code));
  } else if (verb == QLatin1String("clear") && words.size() == 1) {
    unit_.ClearForcedState();
  } else if (verb == QLatin1String("sensor") && words.size() == 3) {
    bool ok2 = false;
    const int sensor = words.at(1).toInt(&ok);
    const double celsius = words.at(2).toDouble(&ok2);
    ok = ok && ok2 && sensor >= 1 && sensor <= 5;
    if (ok) unit_.SetSensor(sensor, celsius);
  } else if (verb == QLatin1String("unplug") && words.size() == 1) {
    unit_.Unplug();
  } else if (verb == QLatin1String("plug") && words.size() == 1) {
    unit_.Plug();
  } else if (verb == QLatin1String("minimize") && words.size() == 1 && window_) {
    window_->showMinimized();
  } else if (verb == QLatin1String("close") && words.size() == 1 && window_) {
    window_->close();
  } else if (verb == QLatin1String("closemodal") && words.size() == 1) {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  } else {
    ok = false;
  }
  return ok;
}

void SimTestControl::WriteState() {
  QString window = QStringLiteral("gone");
  if (window_) {
    window = !window_->isVisible()     ? QStringLiteral("hidden")
             : window_->isMinimized() ? QStringLiteral("minimized")
                                      : QStringLiteral("shown");
  }
  QString modal;
  if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) modal = box->text();
  const QString state =
      QStringLiteral("state=%1\nline1=%2\nline2=%3\nwindow=%4\nmodal=%5\n")
          .arg(unit_.State())
          .arg(QString::fromLatin1(QByteArray::fromStdString(unit_.FrontPanelLine(1)).toHex()),
               QString::fromLatin1(QByteArray::fromStdString(unit_.FrontPanelLine(2)).toHex()),
               window, modal);
  if (state == lastState_) return;
  QSaveFile out(commandFile_ + QStringLiteral(".state"));
  if (out.open(QIODevice::WriteOnly) && out.write(state.toUtf8()) >= 0 && out.commit())
    lastState_ = state;
}

}  // namespace unitsim
