// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardMain.h"

#include "core/SignalBridge.h"
#include "device/UnitLink.h"
#include "device/UsbLink.h"
#include "guard/GuardService.h"
#include "guard/GuardSetup.h"
#include "guard/GuardSocket.h"
#include "guard/HandOver.h"
#include "guard/ServiceManager.h"
#include "host/SystemServices.h"
#include "status/StatusPublisher.h"
#include "core/ProgramName.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

int RunGuard(int argc, char** argv, const GuardOptions& options) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::puts("Usage: vornalith-guard\n"
                "Watches the Vornalith cooling unit without a desktop; run by vornalith-guard.service.\n"
                "Settings: guard.conf in $CONFIGURATION_DIRECTORY (/etc/vornalith).");
      return 0;
    }
    std::fprintf(stderr, "vornalith-guard: unknown option %s\n", argv[i]);
    return 2;
  }
  // The journal reads a message's level from its "<n>" prefix.
  if (qEnvironmentVariableIsSet("JOURNAL_STREAM"))
    qSetMessagePattern(QStringLiteral("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}%{if-warning}<4>%{endif}"
                                      "%{if-critical}<2>%{endif}%{if-fatal}<0>%{endif}%{message}"));
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vornalith-guard"));

  const GuardFolders folders = GuardFoldersFromEnvironment();
  const GuardConfig config = ReadGuardConfig(folders.configuration + QStringLiteral("/guard.conf"));
  std::unique_ptr<IUnitLink> link = options.makeLink ? options.makeLink(config.unitIds)
                                                    : MakeServiceUsbLink(config.unitIds);
  SystemClock clock;
  LogindPowerOff logind;
  IPowerOff* powerOff = options.powerOff ? options.powerOff : &logind;
  SystemdNotifier manager;

  GuardService::Seams seams;
  seams.link = link.get();
  seams.clock = &clock;
  seams.powerOff = powerOff;
  seams.manager = &manager;
  seams.folders = folders;
  seams.config = config;
  GuardService guard(seams);

  StatusPublisher status(QStringLiteral("guard"), ProgramVersion(), guard.Watcher().Cycle().LastSample(),
                         guard.Watcher().Exchange().LinkUp(), [&clock] { return clock.Now(); });
  QObject::connect(&guard.Watcher(), &Watch::statusSampled, &status, &StatusPublisher::OnStatusSampled);
  QObject::connect(&guard.Watcher(), &Watch::linkStateChanged, &status, &StatusPublisher::OnLinkStateChanged);
  GuardSocket socket(GuardSocketPath(folders), [&status] { return status.Answer(); });
  LogindSessions sessions;
  socket.ServeHandOver(&sessions, {[&guard] { return guard.Release(); },
                                   [&guard](const QByteArray& json) { guard.StoreSetup(json); },
                                   [&guard] { guard.TakeBack(); }});
  socket.Listen();

  // systemd's stop (and Ctrl+C by hand) runs the close path.
  SignalBridge bridge;
  QObject::connect(&bridge, &SignalBridge::received, &guard, &GuardService::Stop);
  QObject::connect(&guard, &GuardService::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);

  guard.Start();
  app.exec();
  guard.Stop();
  return 0;
}
