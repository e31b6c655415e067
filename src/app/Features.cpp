// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Features.h"

#include "app/TForm1.h"
#include "history/HistoryFeature.h"
#include "history/LinkLostView.h"

Features::Features(TForm1& form, const CommandLine& commandLine, QObject* parent)
    : QObject(parent), form_(form) {
  Q_UNUSED(commandLine);
  linkLost_ = new LinkLostView(form_, this);
  history_ = new HistoryFeature(form_, DefaultHistoryPath(), this);
}

Features::~Features() = default;
