// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the fuzz targets that drive the main window share: Qt brought up
// offscreen with a command line of its own (the fuzzer's options are not for
// it), and the window over the fakes as at a start.

#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"

#include <QApplication>

#include <memory>

inline void StartQtForFuzzing(int* argc, char*** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int qtArgc = 1;
  static char* qtArgv[] = {*argc > 0 ? (*argv)[0] : nullptr, nullptr};
  new QApplication(qtArgc, qtArgv);  // lives as long as the process
}

inline std::unique_ptr<TForm1> ShowMainWindow(FakeServices& fakes) {
  ResetDeviceData();
  auto form = std::make_unique<TForm1>(fakes.services());
  form->show();
  return form;
}
