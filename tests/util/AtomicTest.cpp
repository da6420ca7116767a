#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "util/Apply.hpp"
#include "util/Atomic.hpp"

using namespace quorvane;

TEST(Atomic, EveryValueHasItsOwnLabelledQueue) {
    Atomic<int> a(1), b(2);
    EXPECT_EQ(a.label().rfind("atomic.queue.", 0), 0u);
    EXPECT_EQ(b.label().rfind("atomic.queue.", 0), 0u);
    EXPECT_EQ(a.label().size(), 13u + 36u);
    EXPECT_NE(a.label(), b.label());
}

TEST(Atomic, WritesOnOneThreadAreReadOnAnother) {
    auto value = std::make_shared<Atomic<std::string>>("start");
    std::thread([&] { value->setWrappedValue("written"); }).join();
    std::string seen;
    std::thread([&] { seen = value->wrappedValue(); }).join();
    EXPECT_EQ(seen, "written");
}

TEST(Atomic, ConcurrentUpdatesLoseNothingAndHandOutDistinctIds) {
    Atomic<int> counter(0);
    Atomic<std::vector<int>> list({});
    constexpr int threads = 8, perThread = 500;
    std::vector<std::vector<int>> taken(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                taken[t].push_back(counter.update([](int& id) { return id++; }));
                list.update([&](std::vector<int>& v) { v.push_back(t); });
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(counter.wrappedValue(), threads * perThread);
    EXPECT_EQ(list.wrappedValue().size(), std::size_t(threads * perThread));
    std::set<int> ids;
    for (const auto& some : taken) ids.insert(some.begin(), some.end());
    EXPECT_EQ(ids.size(), std::size_t(threads * perThread));
}

TEST(Apply, ReturnsTheSameObjectOrPassesTheFailureOn) {
    auto object = std::make_shared<std::vector<int>>();
    auto same = quorvane::apply(object, [](const auto& v) { v->push_back(7); });
    EXPECT_EQ(same, object);
    EXPECT_EQ(*object, std::vector<int>{7});
    EXPECT_THROW(quorvane::apply(object, [](const auto&) { throw std::runtime_error("no"); }), std::runtime_error);
}
