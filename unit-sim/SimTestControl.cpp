// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimTestControl.h"

#include "SimulatedUnit.h"
#include "device/UnitLink.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace unitsim {

namespace {

// One status reply as the control centre decodes it.
QString ReplyLine(const std::uint8_t* frame) {
  auto s16 = [frame](int at) {
    return static_cast<std::int16_t>(frame[3 + at] | (frame[3 + at + 1] << 8));
  };
  QString line = QString::number(frame[3 + 2]);
  for (int sensor = 0; sensor < 5; ++sensor) {
    const int tenths = s16(3 + 2 * sensor);
    line += QLatin1Char(' ') + (tenths <= -990 && tenths >= -999 ? QStringLiteral("-")
                                                                  : QString::number(tenths / 10));
  }
  line += QLatin1Char(' ') + QString::number(static_cast<std::uint16_t>(s16(13)));
  line += QLatin1Char(' ') + QString::number(static_cast<std::uint16_t>(s16(15)));
  return line + QLatin1Char('\n');
}

// Passes everything through and notes the status replies.
class ReplyLogLink : public IUnitLink {
 public:
  ReplyLogLink(std::unique_ptr<IUnitLink> inner, QString path) : inner_(std::move(inner)), path_(std::move(path)) {}
  bool InstallDriverIfMissing() override { return inner_->InstallDriverIfMissing(); }
  bool OpenUnit() override { return inner_->OpenUnit(); }
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length, std::uint8_t* reply,
                               std::uint32_t replyLength) override {
    const std::uint32_t got = inner_->TransferPacket(request, length, reply, replyLength);
    if (got == 28 && reply[0] == 0x01 && reply[1] == 0x01 && reply[2] == 0x02) {
      QFile file(path_);
      if (file.open(QIODevice::Append)) file.write(ReplyLine(reply).toLatin1());
    }
    return got;
  }
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override { return inner_->ResetLinkPipe(pipe); }
  void CloseUnit() override { inner_->CloseUnit(); }
  // The program names the ids it looked for when no unit answers.
  std::optional<UsbIdPair> UnitIds() const override { return inner_->UnitIds(); }

 private:
  std::unique_ptr<IUnitLink> inner_;
  QString path_;
};

// Each request the unit takes, as one line of hex bytes, flushed at once so a
// test sees everything up to the moment the program ends.
void LogRequests(SimulatedUnit& unit, const QString& path) {
  std::shared_ptr<std::FILE> file(std::fopen(QFile::encodeName(path).constData(), "ae"), [](std::FILE* f) {
    if (f) std::fclose(f);
  });
  if (!file) return;
  unit.SetRequestObserver([file](const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) std::fprintf(file.get(), i ? " %02x" : "%02x", data[i]);
    std::fputc('\n', file.get());
    std::fflush(file.get());
  });
}

}  // namespace

void AddTestControlIfAsked(EntryOptions& options, SimulatedUnit& unit) {
  const QString commandFile = qEnvironmentVariable("VCC_SIM_CONTROL");
  if (commandFile.isEmpty()) return;
  LogRequests(unit, commandFile + QStringLiteral(".requests"));
  auto makeLink = options.makeLink;
  options.makeLink = [makeLink, commandFile](UsbIdPair ids) {
    return std::make_unique<ReplyLogLink>(makeLink(ids), commandFile + QStringLiteral(".replies"));
  };
  auto created = options.onMainWindowCreated;
  options.onMainWindowCreated = [created, commandFile, &unit](QMainWindow& window) {
    if (created) created(window);
    // Owned by the main window, so it goes away before the unit does.
    new SimTestControl(unit, commandFile, &window);
  };
}

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
  } else if (verb == QLatin1String("minimise") && words.size() == 1 && window_) {
    window_->showMinimized();
  } else if (verb == QLatin1String("hide-unit") && words.size() == 1 && window_) {
    // Out of a screenshot of the program's own window.
    ok = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w != window_ && w->isVisible() && !qobject_cast<QMessageBox*>(w) && w->parentWidget() == window_) {
        w->hide();
        ok = true;
      }
    }
  } else if (verb == QLatin1String("handling") && words.size() == 2 && window_) {
    // The warning choice, as a user picks it on the System tab.
    const int item = words.at(1).toInt(&ok);
    auto* box = window_->findChild<QComboBox*>(QStringLiteral("WarningHandlingComboBox"));
    ok = ok && box && item >= 0 && item < box->count();
    if (ok) box->setCurrentIndex(item);
  } else if (verb == QLatin1String("close") && words.size() == 1 && window_) {
    window_->close();
  } else if (verb == QLatin1String("closemodal") && words.size() == 1) {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  } else if (verb == QLatin1String("report") && words.size() == 1 && window_) {
    WriteWindowReport();
  } else {
    ok = false;
  }
  return ok;
}

void SimTestControl::WriteState() {
  QString window = QStringLiteral("gone");
  if (window_) {
    window = !window_->isVisible()     ? QStringLiteral("hidden")
             : window_->isMinimized() ? QStringLiteral("minimised")
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

void SimTestControl::WriteWindowReport() {
  QString report = QStringLiteral("minimised=%1 visible=%2\n")
                       .arg(window_->isMinimized() ? 1 : 0)
                       .arg(window_->isVisible() ? 1 : 0);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible()) continue;
    report += QStringLiteral("top ") + QLatin1String(w->metaObject()->className());
    // A box is told by its text (its first line).
    if (auto* box = qobject_cast<QMessageBox*>(w)) report += ' ' + box->text().section('\n', 0, 0);
    report += '\n';
  }
  // Whole or not at all: the test waits for the file to appear.
  QSaveFile out(commandFile_ + QStringLiteral(".window"));
  if (out.open(QIODevice::WriteOnly) && out.write(report.toUtf8()) >= 0) out.commit();
}

}  // namespace unitsim
