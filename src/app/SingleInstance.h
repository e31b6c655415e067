// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One control centre per user: the first start listens on a local socket named
// after the window title and the user; a later start finds it, asks it to bring
// its window back, and ends.

#include <QLocalServer>
#include <QObject>
#include <QString>

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const QString& key, QObject* parent = nullptr);

  // True when this process is now the running instance; false when another one
  // was found and has been asked to restore its window.
  bool TryBecomePrimary();

  QString ServerName() const { return serverName_; }

 signals:
  void restoreRequested();

 private:
  void OnNewConnection();

  QString serverName_;
  QString lockPath_;
  QLocalServer server_;
};
