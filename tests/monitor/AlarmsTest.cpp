// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Alarms.h"

#include <gtest/gtest.h>

namespace {

int LevelAt(SensorRecord r, int temperature, bool celsius = true) {
  r.Temperature = temperature;
  EvaluateSensor(r, celsius);
  return r.Level;
}

SensorRecord Sensor(const QString& name, bool higher, int warning, int shutdown) {
  SensorRecord r;
  r.Name = name;
  r.Higher = higher;
  r.WarningLimit = warning;
  r.ShutdownLimit = shutdown;
  return r;
}

}  // namespace

TEST(EvaluateSensor, LimitsAreReachedIncludingEquality) {
  const SensorRecord evaporator = Sensor("Evaporator", true, -10, 0);
  EXPECT_EQ(LevelAt(evaporator, -11), 0);
  EXPECT_EQ(LevelAt(evaporator, -10), 1);
  EXPECT_EQ(LevelAt(evaporator, 0), 2);
  EXPECT_EQ(LevelAt(evaporator, 5), 2);

  const SensorRecord lower = Sensor("Ambient", false, 5, 0);
  EXPECT_EQ(LevelAt(lower, 6), 0);
  EXPECT_EQ(LevelAt(lower, 5), 1);
  EXPECT_EQ(LevelAt(lower, 0), 2);
  EXPECT_EQ(LevelAt(lower, -3), 2);

  // The shut-down test stands alone: limits set the "wrong" way round still
  // report the shut-down level.
  const SensorRecord crossed = Sensor("Harddisk", true, 50, 40);
  EXPECT_EQ(LevelAt(crossed, 45), 2);
}

TEST(EvaluateSensor, FahrenheitLimitsCompareInCelsius) {
  const SensorRecord evaporator = Sensor("Evaporator", true, 14, 32);
  EXPECT_EQ(LevelAt(evaporator, -11, false), 0);
  EXPECT_EQ(LevelAt(evaporator, -10, false), 1);
  EXPECT_EQ(LevelAt(evaporator, 0, false), 2);
}

TEST(EvaluateSensor, UnfittedSensorsKeepTheirLevel) {
  for (const char* name : {"Optional", "N/A"}) {
    SensorRecord r = Sensor(name, true, -10, 0);
    r.Level = 2;
    r.Temperature = -50;
    EvaluateSensor(r, true);
    EXPECT_EQ(r.Level, 2) << name;
  }
  // An empty name is evaluated like a named one.
  EXPECT_EQ(LevelAt(Sensor("", true, -10, 0), 3), 2);
}
