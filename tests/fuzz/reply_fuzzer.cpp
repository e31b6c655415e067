// SPDX-License-Identifier: GPL-3.0-or-later
// Everything the program does with what comes back from the unit: the length
// and framing decision for the request, the accepted-length check, the
// dispatch by reply number and the five decoders with the whole status cycle
// behind them (panels, limits, alarm decision, error-log snapshot). It goes
// through the real main window; only the link answers with the input.
//
// Input:
//   byte 0   bits 0-2  what the link returns: 0 and 7 = 28, 1 = 3, 2 = the
//                      number of reply bytes given, 3 = 0 (write failed),
//                      4 = 27, 5 = 29, 6 = the 32-bit value in bytes 2-5
//            bits 3-4  the request: 0 a read request numbered byte 1, 1 a
//                      write packet numbered byte 1, 2 the 30 bytes after
//                      the header as they stand, 3 a whole data-poll tick
//            bit 5     temperatures shown in Fahrenheit
//            bit 6     sensors 2..5 fitted (named) rather than "Optional"
//   byte 1   packet number of the request
//   bytes 2-5  the returned value for mode 6, little-endian
//   then     (request mode 2 only) 30 request bytes
//   rest     the reply bytes, as many as the link copies

#include "FuzzWindow.h"
#include "ui_TForm1.h"

#include <QComboBox>
#include <QFile>
#include <QRadioButton>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kHeader = 6;

struct Harness {
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
  FakeLink::Answer answer;
  std::size_t runs = 0;
};

Harness* harness = nullptr;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "reply fuzzer: %s\n", what);
  std::abort();
}

void SetSensorsFitted(Harness& h, bool fitted) {
  static const char* const kNames[] = {"Ambient", "Compressor", "Harddisk", "Graphic Processor"};
  QComboBox* boxes[] = {h.form->ui().SetupSensorComboBox2, h.form->ui().SetupSensorComboBox3,
                        h.form->ui().SetupSensorComboBox4, h.form->ui().SetupSensorComboBox5};
  for (int i = 0; i < 4; ++i) {
    const QString name = fitted ? QString::fromLatin1(kNames[i]) : QStringLiteral("Optional");
    // A reply without a reading marks a sensor "N/A" for the rest of the run;
    // each input starts from a chosen set of sensors instead.
    SensorTable[i + 2].Name = name;
    const QSignalBlocker block(boxes[i]);
    boxes[i]->setEditText(name);
  }
}

std::uint32_t Returned(std::uint8_t mode, const std::uint8_t* data, std::size_t replyBytes) {
  switch (mode & 7) {
    case 1: return 3;
    case 2: return static_cast<std::uint32_t>(replyBytes);
    case 3: return 0;
    case 4: return 27;
    case 5: return 29;
    case 6: {
      std::uint32_t v = 0;
      std::memcpy(&v, data + 2, sizeof v);
      return v;
    }
    default: return 28;
  }
}

bool SameStatus(const DeviceStatus& a, const DeviceStatus& b) {
  return a.AuxWord == b.AuxWord && a.UnitState == b.UnitState && a.FrontFanRpm == b.FrontFanRpm &&
         a.RearFanRpm == b.RearFanRpm && a.AuxByteA == b.AuxByteA && a.AuxByteB == b.AuxByteB &&
         a.AuxTenths == b.AuxTenths && a.AuxByteC == b.AuxByteC;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  StartQtForFuzzing(argc, argv);
  harness = new Harness;
  harness->fakes.link.respond = [](const Bytes&) { return harness->answer; };
  harness->form = ShowMainWindow(harness->fakes);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  Harness& h = *harness;
  TForm1& form = *h.form;
  const std::uint8_t mode = data[0];
  const std::uint8_t number = data[1];
  const int requestKind = (mode >> 3) & 3;

  std::size_t at = kHeader;
  packet::Request raw{};
  if (requestKind == 2) {
    const std::size_t n = std::min(raw.size(), size - at);
    std::memcpy(raw.data(), data + at, n);
    at += n;
  }
  const std::size_t replyBytes = size - at;
  h.answer.bytes.assign(data + at, data + size);
  h.answer.result = Returned(mode, data, replyBytes);

  const bool fahrenheit = (mode & 0x20) != 0;
  if (fahrenheit == static_cast<bool>(CelsiusFlag)) {
    (fahrenheit ? form.ui().FahrenheitRadioButton : form.ui().CelsiusRadioButton)->click();
  }
  SetSensorsFitted(h, (mode & 0x40) != 0);

  h.fakes.link.requests.clear();
  h.fakes.link.replyLengths.clear();
  h.fakes.link.resets.clear();
  const DeviceBlocks before = Device;
  std::int32_t temperaturesBefore[kSensorCount];
  for (int n = 1; n <= kSensorCount; ++n) temperaturesBefore[n - 1] = SensorTable[n].Temperature;

  switch (requestKind) {
    case 0: form.ExchangePacket(packet::MakeReadRequest(number)); break;
    case 1: {
      packet::Payload payload{};
      std::copy_n(h.answer.bytes.begin(), std::min(payload.size(), h.answer.bytes.size()), payload.begin());
      form.ExchangePacket(packet::MakeWritePacket(number, payload));
      break;
    }
    case 2: form.ExchangePacket(raw); break;
    default: form.Watcher().UpdateDataTimerTimer(); break;
  }

  // A refused reply reaches no decoder; each refusal resets both pipes.
  if (!packet::IsAcceptedReplyLength(h.answer.result)) {
    if (!SameStatus(before.Status, Device.Status) || before.Settings.Bytes != Device.Settings.Bytes ||
        before.FanBoot.Words != Device.FanBoot.Words || before.FanBoot.Bytes != Device.FanBoot.Bytes ||
        before.Store67.Bytes != Device.Store67.Bytes)
      Fail("a reply of a refused length changed the unit's data");
    for (int n = 1; n <= kSensorCount; ++n)
      if (SensorTable[n].Temperature != temperaturesBefore[n - 1])
        Fail("a reply of a refused length changed a temperature");
    if (h.fakes.link.resets.size() != 2 * h.fakes.link.requests.size())
      Fail("a refused reply did not reset both pipes");
  }
  for (const std::uint32_t length : h.fakes.link.replyLengths)
    if (length != packet::kReplyReadLength) Fail("a reply was read with another length");
  for (const Bytes& sent : h.fakes.link.requests)
    if (sent.size() != 3 && sent.size() != 4 && sent.size() != 28)
      Fail("a request went out with a length of its own");
  if (form.Queue()->Count() > StatusMessageQueue::kCapacity) Fail("the status queue outgrew its bound");
  // Whatever the unit sends, the only box the exchange may show is the one
  // for a request of neither framing; anything else is a failure that
  // escaped a decoder.
  for (const QString& shown : h.fakes.boxes.shown) {
    if (shown != QStringLiteral("Error in size : 4"))
      Fail(qPrintable(QStringLiteral("a reply made the window report: ") + shown));
  }

  form.StatusTimerTimer();
  while (!form.Queue()->IsEmpty()) form.Queue()->TakeFirst();
  h.fakes.boxes.shown.clear();
  h.fakes.sound.played.clear();
  h.fakes.clock.pauses.clear();
  // Every alarm reply appends an error-log record; keep the file small.
  if (++h.runs % 4096 == 0) QFile::remove(h.fakes.logPath(QStringLiteral("Error.log")));
  return 0;
}
