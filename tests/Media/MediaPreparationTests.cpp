#include "Media/MediaPreparation.h"

#include <gtest/gtest.h>

#include "MediaTestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "Model/CoreTypes.h"
#include "Model/Localization.h"

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

// The process may be ending when a load its caller gave up on finally returns (the user cancelled,
// then quit): the real loads, told to stop, end by throwing their own sentence. exit() destroys
// statics in the reverse order of their making, so the table of user texts, made by the caller's
// cancellation sentence, would be gone before an object made earlier, whose destructor lets the
// stuck load end only then. The load must still find every text it reads (a use after free
// otherwise, which AddressSanitizer reports, ending the process with status 1).
TEST(MediaPreparationDeathTest, AnAbandonedLoadEndingWhileTheProcessEndsStillFindsItsTexts) {
    struct Case {
        const char* what;
        std::function<int()> ending;
    };
    const std::vector<Case> cases{
        {"returns a value", [] { return 7; }},
        {"throws its own sentence", []() -> int { throw MediaError(L("无法读取画面或音轨。")); }},
    };
    // The child runs this test alone in a fresh process, so no user text was read before it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& c : cases) {
        EXPECT_EXIT(
            {
                struct ReleaseAtExit {
                    std::promise<void> release;
                    std::weak_ptr<Calls> loadHolds;
                    ~ReleaseAtExit() {
                        release.set_value();
                        // The load's thread drops its copy of `calls` as its very last step.
                        if (!waitUntil([&] { return loadHolds.expired(); })) std::_Exit(3);
                    }
                };
                static ReleaseAtExit atExit;
                auto released = atExit.release.get_future().share();
                auto token = makeCancellation();
                auto calls = std::make_shared<Calls>();
                atExit.loadHolds = calls;
                auto result = std::async(std::launch::async, [&] {
                    return test::messageOf([&] {
                        MediaPreparation::load<int>(token, nullptr, [calls, released, ending = c.ending] {
                            ++calls->operation;
                            released.wait();  // a platform load that ends only once told to stop
                            return ending();
                        });
                    });
                });
                if (!waitUntil([&] { return calls->operation == 1; })) std::_Exit(2);
                token->cancel();
                if (result.get() != "任务已取消，原文件未改动。") std::_Exit(2);
                calls.reset();
                std::exit(0);
            },
            testing::ExitedWithCode(0), "")
            << c.what;
    }
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
