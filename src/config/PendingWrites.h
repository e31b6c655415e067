// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The deferred writes: a change handler raises one, the 4 s tick carries out
// each raised one and lowers it. One set, so that raising all, lowering all
// and lowering some stay one statement each.

#include <bitset>
#include <initializer_list>

enum PendingWrite {
  PendingFanBlock,
  PendingLine1Text,
  PendingDisplayParams,
  PendingHigherLower,
  PendingSensorNames,
  PendingUnitSettings,
  PendingWarningLimits,
  PendingShutdownLimits,
  PendingBootTemperature,
  kPendingWriteCount
};

class PendingWrites {
 public:
  bool operator[](PendingWrite write) const { return raised_[write]; }
  void Raise(PendingWrite write) { raised_.set(write); }
  void Lower(PendingWrite write) { raised_.reset(write); }
  void Lower(std::initializer_list<PendingWrite> writes) {
    for (PendingWrite write : writes) raised_.reset(write);
  }
  void RaiseAll() { raised_.set(); }
  void LowerAll() { raised_.reset(); }
  bool Any() const { return raised_.any(); }
  // Lowers a write and tells whether it was raised.
  bool Take(PendingWrite write) {
    const bool was = raised_[write];
    raised_.reset(write);
    return was;
  }

 private:
  std::bitset<kPendingWriteCount> raised_;
};
