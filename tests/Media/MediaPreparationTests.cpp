#include "Media/MediaPreparation.h"

#include <gtest/gtest.h>

#include "MediaTestSupport.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "Model/CoreTypes.h"

namespace talvian {
namespace {

using namespace std::chrono_literals;

// Deadline for a cancelled load: the 25 ms poll plus generous scheduling slack.
constexpr auto kCancelDeadline = 2s;

struct Calls {
    std::atomic<int> operation{0};
    std::atomic<int> cancelLoading{0};
};

bool waitUntil(auto condition) {
    auto deadline = std::chrono::steady_clock::now() + kCancelDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(MediaPreparation, ReturnsTheValueAndStopsNothing) {
    auto token = makeCancellation();
    auto calls = std::make_shared<Calls>();
    int value = MediaPreparation::load<int>(
        token, [calls] { ++calls->cancelLoading; },
        [calls] {
            ++calls->operation;
            return 42;
        });
    EXPECT_EQ(value, 42);
    EXPECT_EQ(calls->operation, 1);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls->cancelLoading, 0);
}

TEST(MediaPreparation, PassesTheOperationsErrorAndStopsTheLoadOnce) {
    auto calls = std::make_shared<Calls>();
    EXPECT_EQ(test::messageOf([&] {
                  MediaPreparation::load<int>(
                      makeCancellation(), [calls] { ++calls->cancelLoading; },
                      []() -> int { throw MediaError("无法读取画面或音轨。"); });
              }),
              "无法读取画面或音轨。");
    EXPECT_TRUE(waitUntil([&] { return calls->cancelLoading == 1; }));
}

TEST(MediaPreparation, ATokenSetBeforeTheCallStartsNothing) {
    auto token = makeCancellation();
    token->cancel();
    auto calls = std::make_shared<Calls>();
    EXPECT_EQ(test::messageOf([&] {
                  MediaPreparation::load<int>(
                      token, [calls] { ++calls->cancelLoading; },
                      [calls] {
                          ++calls->operation;
                          return 1;
                      });
              }),
              "任务已取消，原文件未改动。");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(calls->operation, 0);
    EXPECT_EQ(calls->cancelLoading, 0);
}

TEST(MediaPreparation, ATokenSetDuringAStuckLoadFailsWithoutWaitingForIt) {
    auto token = makeCancellation();
    auto calls = std::make_shared<Calls>();
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto result = std::async(std::launch::async, [&] {
        return test::messageOf([&] {
            MediaPreparation::load<int>(
                token, [calls] { ++calls->cancelLoading; },
                [calls, released] {
                    ++calls->operation;
                    released.wait();  // a platform load that never returns by itself
                    return 7;
                });
        });
    });
    ASSERT_TRUE(waitUntil([&] { return calls->operation == 1; }));
    token->cancel();
    ASSERT_EQ(result.wait_for(kCancelDeadline), std::future_status::ready);
    EXPECT_EQ(result.get(), "任务已取消，原文件未改动。");
    EXPECT_TRUE(waitUntil([&] { return calls->cancelLoading == 1; }));
    release->set_value();  // the abandoned load ends; its value goes nowhere
}

TEST(MediaPreparation, AValueDeliveredAfterTheTokenWasSetIsDropped) {
    auto token = makeCancellation();
    auto calls = std::make_shared<Calls>();
    EXPECT_EQ(test::messageOf([&] {
                  MediaPreparation::load<int>(
                      token, [calls] { ++calls->cancelLoading; },
                      [token] {
                          token->cancel();
                          return 5;
                      });
              }),
              "任务已取消，原文件未改动。");
    EXPECT_TRUE(waitUntil([&] { return calls->cancelLoading == 1; }));
}

}  // namespace
}  // namespace talvian
