// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/DesktopServices.h"
#include "app/Features.h"
#include "core/ProgramFiles.h"
#include "core/SingleInstance.h"
#include "app/TForm1.h"
#include "app/UnitUsbIdChoice.h"
#include "config/SettingsKey.h"
#include "device/FindUnit.h"
#include "device/UnitLink.h"
#include "guard/HandOver.h"
#include "logs/LogFile.h"
#include "logs/ProcessLauncher.h"
#include "logs/SendmailTransport.h"
#include "status/StatusQuery.h"
#include "session/SessionEnd.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace {

// A guard service watching the unit lets it go before the window starts on
// it: its last exchange comes before the window's first. While it has an
// emergency shutdown armed it keeps the unit (nothing this start does may
// delay the power-off): the window then comes up without it, says so, and
// asks again at every poll interval. Empty: the unit is free now.
TForm1::UnitWait AskGuardForTheUnit(GuardClient& guard) {
  int secondsLeft = 0;
  switch (guard.Ask(&secondsLeft)) {
    case GuardClient::Answer::Armed:
      qWarning().noquote() << GuardShuttingDownText(secondsLeft);
      return [&guard]() -> std::optional<QString> {
        int left = 0;
        if (guard.Ask(&left) != GuardClient::Answer::Armed) return std::nullopt;
        return GuardShuttingDownText(left);
      };
    case GuardClient::Answer::Refused:
      qWarning("The guard service keeps the unit: only root or a user with an active local session may have it");
      break;
    case GuardClient::Answer::Busy:
      qWarning("The guard service has given the unit to another control centre");
      break;
    default:
      break;
  }
  return {};
}

}  // namespace

int RunControlCentre(int argc, char** argv, const EntryOptions& options) {
  // Read before any window system is touched: the options that only ask
  // something and end must also work without a display.
  const CommandLine commandLine = ParseCommandLine(CommandLineArguments(argc, argv));
  if (!commandLine.error.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(commandLine.error));
    return 2;
  }
  // Only asks the running instance; needs neither a display nor the unit.
  if (commandLine.status) return RunStatusQuery(argc, argv, kApplicationTitle, commandLine.json);
  const UnitUsbIdChoice unit = ChooseUnitUsbId(commandLine.unitId, SettingsKey::DefaultPath());
  if (!unit.error.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(unit.error));
    return 2;
  }
  // A settings file that is not read is said here too: --find-unit has no
  // window to say it in.
  if (!unit.notice.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(unit.notice));
  if (commandLine.findUnit) return RunFindUnit(unit.ids, stdout);

  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("quelmark"));
  QApplication::setApplicationName(QStringLiteral("tessalinique"));

  // A running control centre is asked to show its window; this start ends.
  SingleInstance instance(kApplicationTitle);
  if (!instance.TryBecomePrimary()) return 0;

  QApplication::setApplicationDisplayName(kApplicationTitle);
  QGuiApplication::setDesktopFileName(QString::fromLatin1(options.desktopFileName));
  // The window stays up while the program runs; it ends when the main window
  // is closed, even with the help or simulated-unit window still open.
  QApplication::setQuitOnLastWindowClosed(false);

  // Kept until the program ends, in any way: its end gives the unit back.
  GuardClient guard(DefaultGuardSocketPath());
  const TForm1::UnitWait unitWait = options.askGuard ? AskGuardForTheUnit(guard) : TForm1::UnitWait();

  try {
    std::unique_ptr<IUnitLink> link = options.makeLink(unit.ids);
    QtMessageBoxes boxes;
    SystemClock clock;
    HelpWindow help(programfiles::Find(QStringLiteral("Tessalinique.html")));
    CanberraSound sound;
    std::unique_ptr<IPowerOff> powerOff =
        options.makePowerOff ? options.makePowerOff() : std::make_unique<LogindPowerOff>();
    Services services;
    services.link = link.get();
    services.boxes = &boxes;
    services.clock = &clock;
    services.help = &help;
    DetachedProcessLauncher launcher;
    SendmailTransport mail;
    services.logFolder = DefaultLogFolder();
    services.launcher = &launcher;
    services.mail = &mail;
    services.sound = &sound;
    services.powerOff = powerOff.get();

    // Signals and logind are heard from before the window exists: one that
    // comes during start-up closes the window as soon as it is up.
    SessionEnd sessionEnd;
    TForm1 form(services, unitWait);
    if (form.Terminating()) return 0;
    help.ShowAbout = [&form] { form.About1Click(); };
    QObject::connect(&form, &TForm1::closed, &sessionEnd, &SessionEnd::WindowClosed);
    sessionEnd.Watch(form, [&form] { return !form.ShutdownSequenceRunning(); });
    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::restoreRequested, &form,
                     &TForm1::RestoreFromSecondStart);
    // The guard watches with the control centre's sensor setup once it ends.
    QObject::connect(&form, &TForm1::statusSampled, &guard, &GuardClient::OnStatusSampled);
    Features features(form, commandLine);
    features.ServeStatusQueries(instance);
    if (commandLine.minimized) form.StartMinimized();
    else form.show();
    if (options.onMainWindowCreated) options.onMainWindowCreated(form);
    app.exec();
    // The application was told to quit without the window being closed (the
    // desktop session ended): the close path still runs.
    if (!form.Terminating()) form.close();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, kApplicationTitle, QString::fromLocal8Bit(e.what()));
  }
  return 0;
}
