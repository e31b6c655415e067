// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of the notification-area icon and the CPU sampler:
// creating them, telling the sampler whether the window is in view, and
// ending the sampler before the values it writes go away.

#include "app/TForm1.h"
#include "app/SamplerView.h"
#include "core/Guard.h"
#include "host/CPUThread.h"
#include "widgets/TPerformanceGraph.h"
#include "widgets/TTrayIcon.h"
#include "widgets/TrayIcons.h"

#include "ui_TForm1.h"

#include <QHideEvent>
#include <QLabel>
#include <QShowEvent>

#include <exception>

namespace {

const QColor kLoadColour(0x00, 0xFF, 0x00);  // lime

}  // namespace

void ShowSamplerIn(CPUThread& sampler, QLabel* speedPanel, TPerformanceGraph* graph, TTrayIcon* trayIcon) {
  if (speedPanel) {
    QObject::connect(&sampler, &CPUThread::SpeedCaptionChanged, speedPanel,
                     [speedPanel](const QString& caption) { speedPanel->setText(caption); });
  }
  if (graph) {
    CPUThread* thread = &sampler;
    QObject::connect(&sampler, &CPUThread::LoadSampled, graph, [thread, graph](int load) {
      try {
        graph->DataPoint(kLoadColour, load);
        graph->Update();
      } catch (const std::exception& e) {
        emit thread->ErrorRaised(QString::fromLocal8Bit(e.what()));
      }
    });
  }
  if (trayIcon) {
    QObject::connect(&sampler, &CPUThread::HintChanged, trayIcon,
                     [trayIcon](const QString& hint) { trayIcon->SetHint(hint); });
  }
}

void TForm1::CreateTrayIcon() {
  trayIcon1_ = new TTrayIcon(this);
  trayIcon1_->setObjectName(QStringLiteral("TrayIcon1"));
  trayIcon1_->SetPopupMenu(popupMenu1_);
  trayIcon1_->RestoreOn = imDoubleClick;
  // The menu opens from TrayIcon1MouseDown, on the press itself.
  trayIcon1_->PopupMenuOn = imNone;
  trayIcon1_->SetIcons(ImageList1());
  trayIcon1_->SetAnimateInterval(300);
  trayIcon1_->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y) {
    TrayIcon1MouseDown(button, x, y);
  };
  trayIcon1_->SetMainWindow(this);
  trayIcon1_->Loaded();
  Guarded(report_, [&] {
    trayIcon1_->SetVisible(true);
  });
}

void TForm1::StartCpuSampler() {
  TPerformanceGraph* graph = ui_->CPULoadGraph;
  graph->Model().SetGridSize(7);
  graph->Model().SetGradient(100);

  // Started only once its results have somewhere to go.
  CPUThread& sampler = watch_->CreateCpuSampler();
  ShowSamplerIn(sampler, ui_->CPUSpeedLoadPanel, graph, trayIcon1_);
  NoteMainWindowVisibility();
  sampler.start();
}

void TForm1::NoteMainWindowVisibility() {
  if (CPUThread* sampler = watch_->CpuSampler()) sampler->SetMainWindowVisible(MainWindowCountsAsVisible());
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  NoteMainWindowVisibility();
}

void TForm1::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  NoteMainWindowVisibility();
}
