// SPDX-License-Identifier: GPL-3.0-or-later
// Which notifications a run of status samples and link changes calls for.

#include "desktop/NotificationPolicy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

StatusSample Fault(const char* caption, bool armed = false) {
  StatusSample s;
  s.statusCaption = QString::fromLatin1(caption);
  s.statusColour = armed ? StatusColour::Red : StatusColour::Orange;
  s.warningRaised = true;
  s.shutdownArmed = armed;
  return s;
}

StatusSample Normal() {
  StatusSample s;
  s.statusCaption = QStringLiteral("Normal");
  return s;
}

StatusSample SensorWarning(int number, const char* name) {
  StatusSample s = Fault("Warning");
  s.sensors[0].number = 1;
  s.sensors[0].name = QStringLiteral("Evaporator");
  for (int n = 2; n <= 5; ++n) {
    s.sensors[n - 1].number = n;
    s.sensors[n - 1].name = QStringLiteral("Optional");
  }
  s.sensors[static_cast<std::size_t>(number - 1)].name = QString::fromLatin1(name);
  s.sensors[static_cast<std::size_t>(number - 1)].level = 1;
  return s;
}

// "summary: body" of each notice, in order.
std::vector<QString> Texts(const std::vector<Notice>& notices) {
  std::vector<QString> texts;
  for (const Notice& n : notices) texts.push_back(n.summary + QStringLiteral(": ") + n.body);
  return texts;
}

std::vector<QString> Feed(NotificationPolicy& policy, const std::vector<StatusSample>& samples,
                         NotificationChoices choices = {}) {
  std::vector<Notice> all;
  for (const StatusSample& s : samples) {
    const auto notices = policy.OnSample(s, choices);
    all.insert(all.end(), notices.begin(), notices.end());
  }
  return Texts(all);
}

const QString kWarning = QStringLiteral("Cooling unit warning: ");

TEST(NotificationPolicyTest, OneNoticePerChangeOfConditionNeverOnePerPoll) {
  NotificationPolicy policy;
  std::vector<StatusSample> minute(20, Fault("RESTART DELAY"));
  EXPECT_EQ(Feed(policy, minute), std::vector<QString>{kWarning + "RESTART DELAY"});
  // Another warning while one stands is a change; the same one again is not.
  EXPECT_EQ(Feed(policy, {Fault("FAN FAILED"), Fault("FAN FAILED")}),
            std::vector<QString>{kWarning + "FAN FAILED"});
  // Gone and back: announced again (its slot replaces the earlier one).
  EXPECT_TRUE(Feed(policy, {Normal(), Normal()}).empty());
  const auto again = policy.OnSample(SensorWarning(2, "Ambient"), {});
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].slot, NoticeSlot::Warning);
  EXPECT_EQ(again[0].body, "Temperature warning on Ambient");
  EXPECT_FALSE(again[0].critical);
}

TEST(NotificationPolicyTest, TheArmedShutdownIsCriticalOffersCancelAndIsCancelledOnce) {
  NotificationPolicy policy;
  const auto armed = policy.OnSample(Fault("ALARM", true), {true, true});
  ASSERT_EQ(armed.size(), 1u);  // a red sensor alarm: no warning action ran
  EXPECT_EQ(armed[0].slot, NoticeSlot::Shutdown);
  EXPECT_EQ(armed[0].summary, "Emergency shutdown armed");
  EXPECT_EQ(armed[0].body,
            "The computer powers off in 3 minutes unless the temperature falls. Close the control "
            "centre to cancel.");
  EXPECT_TRUE(armed[0].critical);
  EXPECT_TRUE(armed[0].offersCancelShutdown);
  EXPECT_TRUE(Feed(policy, {Fault("ALARM", true), Fault("ALARM", true)}).empty());
  const auto cancelled = policy.OnSample(Normal(), {});
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_EQ(cancelled[0].slot, NoticeSlot::Shutdown);
  EXPECT_EQ(cancelled[0].summary, "Emergency shutdown cancelled");
  EXPECT_FALSE(cancelled[0].offersCancelShutdown);
  EXPECT_TRUE(Feed(policy, {Normal()}).empty());
}

TEST(NotificationPolicyTest, IgnoreSilencesWarningsAndOffSilencesEverything) {
  const struct {
    NotificationChoices choices;
    std::vector<QString> expected;
  } cases[] = {
      {{true, true}, {"Emergency shutdown armed: " + kShutdownArmedBody}},
      {{false, false}, {}},
  };
  for (const auto& c : cases) {
    NotificationPolicy policy;
    EXPECT_EQ(Feed(policy, {Fault("RESTART DELAY"), Fault("TO SLOW", true)}, c.choices), c.expected);
    EXPECT_EQ(policy.OnLinkChanged(false, c.choices).has_value(), c.choices.enabled);
    // Switched back on while the same conditions stand: nothing old is
    // announced as new.
    EXPECT_TRUE(Feed(policy, {Fault("TO SLOW", true)}).empty());
  }
}

TEST(NotificationPolicyTest, TheLinkIsAnnouncedWhenLostAndWhenBackOnly) {
  NotificationPolicy policy;
  std::vector<QString> texts;
  for (bool up : {true, false, false, true, true, false}) {
    if (const auto n = policy.OnLinkChanged(up, {})) {
      EXPECT_EQ(n->slot, NoticeSlot::Link);
      texts.push_back(n->summary);
    }
  }
  EXPECT_EQ(texts, (std::vector<QString>{"USB connection lost", "USB connection back",
                                         "USB connection lost"}));
}

}  // namespace
