// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Features.h"

#include "app/TForm1.h"

Features::Features(TForm1& form, const CommandLine& commandLine, QObject* parent)
    : QObject(parent), form_(form) {
  Q_UNUSED(commandLine);
}

Features::~Features() = default;
