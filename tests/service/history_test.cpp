#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include <thread>
#include <vector>

#include "service/history.hpp"
#include "service_support.hpp"

using namespace service;

namespace {

struct CountingSink : IHistorySink {
    int Calls = 0;
    void HistoryPending() override { ++Calls; }
};

// The history is process-wide, and so is the locale its dates follow.
class History : public service_test::TRestoresService {};

} // namespace

TEST_F(History, TrimOnlyAboveTheLimitAndCountsQueuedChanges)
{
    THistory::Reset();
    CountingSink sink;
    THistory::Attach(&sink, 1); // "MemoOK"
    EXPECT_EQ(THistory::Count(), 1);
    for (int i = 0; i < 9999; ++i)
        THistory::Add("x");
    EXPECT_EQ(THistory::Count(), 10000);
    EXPECT_FALSE(THistory::Trim()); // exactly 10000 stays
    THistory::Add("10001");
    EXPECT_EQ(THistory::Count(), 10001);
    EXPECT_TRUE(THistory::Trim());
    EXPECT_EQ(THistory::Count(), 0);
    THistory::Add("own line");
    EXPECT_EQ(THistory::Count(), 1);
    EXPECT_EQ(sink.Calls, 1); // one wake-up while the queue was not drained

    // The lines queued before the clear are dropped with it.
    auto ops = THistory::TakePending();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_TRUE(ops[0].Clear);
    EXPECT_EQ(ops[1].Line, "own line");
    THistory::Add("next");
    EXPECT_EQ(sink.Calls, 2);
    THistory::Detach(&sink);
    THistory::Add("unseen");
    EXPECT_EQ(sink.Calls, 2);
    EXPECT_EQ(THistory::Count(), 3);
}

TEST_F(History, WithNobodyDrainingTheQueueStaysOneHistoryLong)
{
    THistory::Reset(); // no window
    for (int i = 0; i < 35000; ++i) {
        THistory::Trim();
        THistory::Add("line " + std::to_string(i));
    }
    auto ops = THistory::TakePending();
    ASSERT_FALSE(ops.empty());
    EXPECT_TRUE(ops.front().Clear);
    EXPECT_LE(ops.size(), static_cast<size_t>(THistory::KMaxLines) + 2);
    // What a display would show: the lines since the last clear, in order.
    EXPECT_EQ(static_cast<int32_t>(ops.size() - 1), THistory::Count());
    EXPECT_EQ(ops.back().Line, "line 34999");
    EXPECT_EQ(ops[1].Line, "line " + std::to_string(35000 - THistory::Count()));
}

TEST_F(History, OperatorEditsResyncTheCount)
{
    THistory::Reset();
    CountingSink sink;
    THistory::Attach(&sink, 1);
    THistory::Add("a");
    THistory::ShownLinesChanged(5); // operator typed; "a" still queued
    EXPECT_EQ(THistory::Count(), 6);
    THistory::TakePending();
    THistory::ShownLinesChanged(0);
    EXPECT_EQ(THistory::Count(), 0);
}

TEST_F(History, ConcurrentAddsAreAllCounted)
{
    THistory::Reset();
    CountingSink sink;
    THistory::Attach(&sink, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 5000; ++i) {
                THistory::Trim();
                THistory::Add("l");
            }
        });
    for (auto& th : threads)
        th.join();
    // Replaying the queue gives the authoritative count.
    int32_t lines = 0;
    for (const auto& op : THistory::TakePending()) {
        lines = op.Clear ? 0 : lines + 1;
        EXPECT_LE(lines, THistory::KMaxLines + 8);
    }
    EXPECT_EQ(lines, THistory::Count());
    THistory::Detach(&sink);
}

TEST_F(History, LineForms)
{
    std::setlocale(LC_ALL, "C");
    const std::string a = AddressedHistoryLine("192.168.0.10", 15, "| Entregue arquivo: /f/1.png");
    EXPECT_TRUE(std::regex_match(
        a, std::regex(R"(192\.168\.0\.10 \| 15\|\d\d/\d\d/\d\d\|\d\d:\d\d:\d\d\| Entregue arquivo: /f/1\.png)")))
        << a;
    const std::string b = BareHistoryLine(3, "| x");
    EXPECT_TRUE(std::regex_match(b, std::regex(R"(3\|\d\d/\d\d/\d\d\|\d\d:\d\d:\d\d\| x)"))) << b;
    EXPECT_EQ(HistoryDate().size(), 8u); // C locale: mm/dd/yy
}
