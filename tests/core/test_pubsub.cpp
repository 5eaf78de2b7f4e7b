// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include "core/pubsub.h"
struct Ping { int v = 0; };
struct PingListener : Listener<Ping> {
    std::vector<int>* log; int id;
    PingListener(std::vector<int>* l, int i) : log(l), id(i) {}
    void OnUpdate(Ping&) override { log->push_back(id); }
};
TEST(PubSub, Smoke) {
    std::vector<int> log;
    { PingListener a(&log, 1); Ping p; Listener<Ping>::Publish(p); }
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(Listener<Ping>::pDatasource, nullptr);
}
