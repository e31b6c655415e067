// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// First-in first-out list of short texts for the status bar: the program's only
// way to tell the user something without a dialog. The status-bar tick shows
// one text per 1.5 s.

#include <QString>

#include <deque>

class StatusMessageQueue {
 public:
  // While a fault and several sensor warnings persist, every 3 s poll adds more
  // texts than the 1.5 s tick can show. Without a bound the queue would grow
  // for as long as the fault lasts and the bar would show texts minutes old;
  // past this many waiting texts the oldest are dropped.
  static constexpr std::size_t kCapacity = 20;

  void Append(const QString& text);
  bool IsEmpty() const { return texts_.empty(); }
  std::size_t Count() const { return texts_.size(); }
  // Removes and returns the oldest text; empty when there is none.
  QString TakeFirst();
  // Drops every waiting copy of a text that no longer holds.
  void RemoveAll(const QString& text);
  const std::deque<QString>& Texts() const { return texts_; }

 private:
  std::deque<QString> texts_;
};
