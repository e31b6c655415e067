// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/StatusMessageQueue.h"

void StatusMessageQueue::Append(const QString& text) {
  texts_.push_back(text);
  while (texts_.size() > kCapacity) texts_.pop_front();
}

void StatusMessageQueue::RemoveAll(const QString& text) {
  std::erase(texts_, text);
}

QString StatusMessageQueue::TakeFirst() {
  if (texts_.empty()) return {};
  QString t = texts_.front();
  texts_.pop_front();
  return t;
}
