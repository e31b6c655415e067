// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/StatusMessageQueue.h"

#include <gtest/gtest.h>

TEST(StatusMessageQueue, KeepsOrderAndDropsTheOldestPastItsBound) {
  StatusMessageQueue q;
  EXPECT_TRUE(q.TakeFirst().isEmpty());
  for (std::size_t i = 0; i < StatusMessageQueue::kCapacity + 5; ++i)
    q.Append(QString::number(i));
  EXPECT_EQ(q.Count(), StatusMessageQueue::kCapacity);
  // The newest texts survive; the stale ones went first.
  EXPECT_EQ(q.TakeFirst(), "5");
  EXPECT_EQ(q.Texts().back(), QString::number(StatusMessageQueue::kCapacity + 4));
}
