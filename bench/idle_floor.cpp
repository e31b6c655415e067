// SPDX-License-Identifier: GPL-3.0-or-later
// What waking up alone costs: a Qt window that does nothing but keep the
// control centre's rhythm. Timers every 1.5, 3, 4, 5 and 30 s on the window's
// thread, and a second thread that wakes twice every two seconds and then
// hands the window an event, as the CPU sampler does. bench/idle measures it
// beside the control centre, so the control centre's own work is the
// difference.
#include <QApplication>
#include <QLabel>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <atomic>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel window(QStringLiteral("Idle floor"));
  window.setWindowTitle(QStringLiteral("Idle floor"));
  window.resize(520, 430);
  window.show();

  int ticks = 0;
  for (int ms : {1500, 3000, 4000, 5000, 30000}) {
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer->start(ms);
  }
  std::atomic<bool> stop{false};
  QThread* sampler = QThread::create([&] {
    while (!stop) {
      QThread::msleep(1000);
      QThread::msleep(1001);
      QMetaObject::invokeMethod(&window, [&ticks] { ++ticks; }, Qt::QueuedConnection);
    }
  });
  sampler->start();
  const int code = app.exec();
  stop = true;
  sampler->wait();
  delete sampler;
  return code;
}
