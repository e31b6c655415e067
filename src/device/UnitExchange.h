// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one way to talk to the unit: a request out, its reply into the receive
// area, and the reply handed to the decoder its number names. A failed
// exchange marks the link lost and clears both pipes; the next reply marks it
// up again.

#include "core/Guard.h"
#include "device/Packet.h"

#include <QByteArray>
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

class IUnitLink;

inline const QString kLinkLostText = QStringLiteral("USB connection lost - retrying");

class UnitExchange : public QObject {
  Q_OBJECT
 public:
  // Takes a reply's payload (one character per payload byte).
  using Decoder = std::function<void(const QByteArray& payload)>;

  struct Context {
    IUnitLink* link = nullptr;
    ReportFunction report;
    // A transient text for the status bar: the link lost.
    std::function<void(const QString& text)> notice;
  };

  explicit UnitExchange(Context context, QObject* parent = nullptr);

  // Reply numbers 1, 2, 3, 6 and 7 have decoders; others are dropped.
  void SetDecoder(int number, Decoder decoder);

  // Nothing is sent until the link has been started (the unit opened).
  void SetStarted(bool started) { started_ = started; }
  bool Started() const { return started_; }

  void ExchangePacket(const std::uint8_t* request);
  void ExchangePacket(const packet::Request& request) { ExchangePacket(request.data()); }

  // False from the first failed exchange until the next accepted reply.
  bool LinkUp() const { return linkUp_; }

 signals:
  // The link went down or came back; emitted on the change only.
  void linkStateChanged(bool up);

 private:
  void NoteLinkState(bool up);

  Context context_;
  bool started_ = false;
  bool linkUp_ = true;
  std::array<Decoder, 8> decoders_;
  // Reply area of the transaction: 100 bytes, read with a requested length of 88.
  std::uint8_t receiveArea_[packet::kReceiveAreaSize] = {};
};
