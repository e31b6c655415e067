// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimTestHook.h"

#include "SimulatedUnit.h"
#include "device/UnitLink.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace unitsim {

namespace {

QString Line(const std::uint8_t* frame) {
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
class TapLink : public IUnitLink {
 public:
  TapLink(std::unique_ptr<IUnitLink> inner, QString repliesPath)
      : inner_(std::move(inner)), repliesPath_(std::move(repliesPath)) {}
  bool InstallDriverIfMissing() override { return inner_->InstallDriverIfMissing(); }
  bool OpenUnit() override { return inner_->OpenUnit(); }
  std::uint32_t TransferPacket(const std::uint8_t* request, std::uint32_t length, std::uint8_t* reply,
                               std::uint32_t replyLength) override {
    const std::uint32_t got = inner_->TransferPacket(request, length, reply, replyLength);
    if (got == 28 && reply[0] == 0x01 && reply[1] == 0x01 && reply[2] == 0x02) {
      QFile file(repliesPath_);
      if (file.open(QIODevice::Append)) file.write(Line(reply).toLatin1());
    }
    return got;
  }
  std::uint32_t ResetLinkPipe(std::uint8_t pipe) override { return inner_->ResetLinkPipe(pipe); }
  void CloseUnit() override { inner_->CloseUnit(); }

 private:
  std::unique_ptr<IUnitLink> inner_;
  QString repliesPath_;
};

void Report(const QString& path, QMainWindow& window) {
  QFile file(path + QStringLiteral(".part"));
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(QStringLiteral("minimised=%1 visible=%2\n")
                 .arg(window.isMinimized() ? 1 : 0)
                 .arg(window.isVisible() ? 1 : 0)
                 .toLatin1());
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) file.write((QStringLiteral("top ") + w->metaObject()->className() + '\n').toLatin1());
  file.close();
  QFile::remove(path);
  QFile::rename(path + QStringLiteral(".part"), path);
}

}  // namespace

void AddTestHookIfAsked(EntryOptions& options, SimulatedUnit& unit) {
  const QString dir = qEnvironmentVariable("VORNALITH_SIM_TEST_DIR");
  if (dir.isEmpty()) return;
  auto makeLink = options.makeLink;
  options.makeLink = [makeLink, dir](UsbIdPair ids) {
    return std::make_unique<TapLink>(makeLink(ids), dir + QStringLiteral("/replies"));
  };
  auto created = options.onMainWindowCreated;
  options.onMainWindowCreated = [created, dir, &unit](QMainWindow& window) {
    if (created) created(window);
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [dir, &unit, &window] {
      QFile file(dir + QStringLiteral("/command"));
      if (!file.open(QIODevice::ReadOnly)) return;
      const QList<QByteArray> lines = file.readAll().split('\n');
      file.remove();
      for (const QByteArray& line : lines) {
        const QByteArray command = line.trimmed();
        if (command == "unplug") unit.Unplug();
        if (command == "plug") unit.Plug();
        if (command == "minimise") window.showMinimized();
        if (command == "report") Report(dir + QStringLiteral("/window"), window);
      }
    });
    timer->start(100);
  };
}

}  // namespace unitsim
