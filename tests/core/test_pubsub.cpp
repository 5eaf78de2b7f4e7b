// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/heartbeat.h"
#include "core/pubsub.h"

namespace {

struct Fix {
    int value = 0;
};

struct FixListener : Listener<Fix> {
    std::vector<int>* log;
    int id;
    std::function<void(FixListener&)> onUpdate;
    FixListener(std::vector<int>* l, int i) : log(l), id(i) {}
    void OnUpdate(Fix&) override {
        log->push_back(id);
        if (onUpdate) onUpdate(*this);
    }
};

struct Other {};
struct OtherListener : Listener<Other> {
    void OnUpdate(Other&) override {}
};

}  // namespace

TEST(PubSub, SourceLivesExactlyAsLongAsItsListeners) {
    EXPECT_EQ(Listener<Fix>::pDatasource, nullptr);
    std::vector<int> log;
    {
        FixListener a(&log, 1);
        CDataSource* src = Listener<Fix>::pDatasource;
        ASSERT_NE(src, nullptr);
        {
            FixListener b(&log, 2);
            EXPECT_EQ(Listener<Fix>::pDatasource, src);  // shared, not one per listener
        }
        EXPECT_EQ(Listener<Fix>::pDatasource, src);
        // Another data type has its own source.
        OtherListener o;
        EXPECT_NE(static_cast<void*>(Listener<Other>::pDatasource), static_cast<void*>(src));
    }
    EXPECT_EQ(Listener<Fix>::pDatasource, nullptr);
    EXPECT_EQ(Listener<Other>::pDatasource, nullptr);

    Fix f;
    Listener<Fix>::Publish(f);  // nobody listens: nothing happens
    EXPECT_TRUE(log.empty());
}

TEST(PubSub, PriorityOrderThenAttachmentOrder) {
    CDataSource src;
    std::vector<int> log;
    struct Ctx {
        std::vector<int>* log;
        int id;
    };
    auto fn = [](void* c, void*) {
        auto* ctx = static_cast<Ctx*>(c);
        ctx->log->push_back(ctx->id);
    };
    Ctx c1{&log, 1}, c2{&log, 2}, c3{&log, 3}, c4{&log, 4}, c5{&log, 5};
    CDataSource::callback a, b, c, d, e;
    a.attach(src, fn, &c1, 0);
    b.attach(src, fn, &c2, 5);
    c.attach(src, fn, &c3, 0);
    d.attach(src, fn, &c4, 5);
    e.attach(src, fn, &c5, -3);
    src.Dispatch(nullptr);
    EXPECT_EQ(log, (std::vector<int>{2, 4, 1, 3, 5}));

    // Re-attaching moves a callback behind the others of its priority.
    log.clear();
    a.attach(src, fn, &c1, 0);
    src.Dispatch(nullptr);
    EXPECT_EQ(log, (std::vector<int>{2, 4, 3, 1, 5}));
}

TEST(PubSub, ListenersMayLeaveDuringADispatch) {
    std::vector<int> log;
    auto a = std::make_unique<FixListener>(&log, 1);
    auto b = std::make_unique<FixListener>(&log, 2);
    auto c = std::make_unique<FixListener>(&log, 3);
    // The first destroys the next one: the walk must skip it, not touch freed memory.
    a->onUpdate = [&](FixListener&) { b.reset(); };
    Fix f;
    Listener<Fix>::Publish(f);
    EXPECT_EQ(log, (std::vector<int>{1, 3}));

    // A listener destroying itself, and then the last one destroying itself, which
    // deletes the source in the middle of its own dispatch.
    log.clear();
    a->onUpdate = [&](FixListener&) { a.reset(); };
    c->onUpdate = [&](FixListener&) { c.reset(); };
    Listener<Fix>::Publish(f);
    EXPECT_EQ(log, (std::vector<int>{1, 3}));
    EXPECT_EQ(Listener<Fix>::pDatasource, nullptr);

    // And a new listener can start over at once.
    FixListener d(&log, 4);
    log.clear();
    Listener<Fix>::Publish(f);
    EXPECT_EQ(log, (std::vector<int>{4}));
}

TEST(PubSub, OneTimestampPerDispatchWithCorrection) {
    std::vector<int> log;
    std::vector<double> stamps;
    FixListener a(&log, 1), b(&log, 2);
    auto take = [&](FixListener&) { stamps.push_back(Listener<Fix>::pDatasource->Timestamp()); };
    a.onUpdate = take;
    b.onUpdate = [&](FixListener& l) {
        // Time passing inside a dispatch does not change what listeners see.
        const double until = CDataSource::Now() + 0.003;
        while (CDataSource::Now() < until) {
        }
        take(l);
    };
    Fix f;
    Listener<Fix>::Publish(f);
    ASSERT_EQ(stamps.size(), 2u);
    EXPECT_EQ(stamps[0], stamps[1]);
    EXPECT_NEAR(stamps[0], CDataSource::Now(), 1.0);

    CDataSource::timestamp_correction = 3600;
    Listener<Fix>::Publish(f);
    CDataSource::timestamp_correction = 0;
    ASSERT_EQ(stamps.size(), 4u);
    EXPECT_EQ(stamps[2], stamps[3]);
    EXPECT_NEAR(stamps[2] - stamps[0], 3600, 5);
}

namespace {
struct CountingCounter : CHeartbeat::Counter {
    std::vector<unsigned long long> fired;
    std::function<void()> action;
    explicit CountingCounter(int period) : Counter(period) {}
    void OnHeartbeat() override {
        fired.push_back(CHeartbeat::PulseCount());
        if (action) action();
    }
};
}  // namespace

TEST(Heartbeat, CountersFireEveryPeriodFromARandomFirstPhase) {
    std::vector<int> firstPhases;
    for (int trial = 0; trial < 200; ++trial) {
        CountingCounter c(5);
        const int r = c.Remaining();
        ASSERT_GE(r, 1);
        ASSERT_LE(r, 5);
        firstPhases.push_back(r);
        const auto start = CHeartbeat::PulseCount();
        for (int i = 0; i < 21; ++i) CHeartbeat::Pulse();
        ASSERT_EQ(c.fired.size(), size_t((21 - r) / 5 + 1));
        EXPECT_EQ(c.fired[0] - start, unsigned(r));
        for (size_t i = 1; i < c.fired.size(); ++i) EXPECT_EQ(c.fired[i] - c.fired[i - 1], 5u);
    }
    // Every phase 1..5 turns up: the spread is what keeps equal periods apart.
    for (int p = 1; p <= 5; ++p)
        EXPECT_NE(std::find(firstPhases.begin(), firstPhases.end(), p), firstPhases.end()) << p;

    CountingCounter one(1);
    CHeartbeat::Pulse();
    CHeartbeat::Pulse();
    EXPECT_EQ(one.fired.size(), 2u);
}

TEST(Heartbeat, RestartAndChangesDuringAPulse) {
    CountingCounter staleness(50);
    for (int i = 0; i < 49; ++i) {
        staleness.Restart();  // a fresh position each tick keeps it from ever firing
        CHeartbeat::Pulse();
    }
    EXPECT_TRUE(staleness.fired.empty());

    // A counter that destroys another one and creates a new one while firing.
    auto victim = std::make_unique<CountingCounter>(1);
    std::unique_ptr<CountingCounter> born;
    CountingCounter killer(1);
    killer.action = [&] {
        victim.reset();
        if (!born) born = std::make_unique<CountingCounter>(1);
    };
    CHeartbeat::Pulse();
    EXPECT_EQ(victim, nullptr);
    ASSERT_NE(born, nullptr);
    EXPECT_TRUE(born->fired.empty());  // joins at the next pulse
    CHeartbeat::Pulse();
    EXPECT_EQ(born->fired.size(), 1u);
}
