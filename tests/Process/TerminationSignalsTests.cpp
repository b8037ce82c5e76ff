#include "Process/TerminationSignals.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

namespace talvian {
namespace {

using namespace std::chrono_literals;

bool blocked(int signal) {
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// A signal sent to the whole process, as kill(1) and a terminal's Ctrl+C send it, becomes one call
// on the listener's thread; the process lives on.
TEST(TerminationSignals, EachSignalBecomesACallOnItsOwnThread) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        ASSERT_FALSE(blocked(signal));
        std::promise<std::pair<int, std::thread::id>> first;
        std::promise<int> second;
        int calls = 0;
        {
            TerminationSignals signals([&](int received) {
                if (++calls == 1)
                    first.set_value({received, std::this_thread::get_id()});
                else
                    second.set_value(received);
            });
            EXPECT_TRUE(blocked(signal));
            EXPECT_FALSE(signals.received());

            ASSERT_EQ(::kill(::getpid(), signal), 0);
            auto called = first.get_future();
            ASSERT_EQ(called.wait_for(10s), std::future_status::ready);
            auto [number, thread] = called.get();
            EXPECT_EQ(number, signal);
            EXPECT_NE(thread, std::this_thread::get_id());
            EXPECT_EQ(signals.received(), signal);

            // Another one is a call too; the first stays the one received.
            const int other = signal == SIGTERM ? SIGINT : SIGTERM;
            ASSERT_EQ(::kill(::getpid(), other), 0);
            auto again = second.get_future();
            ASSERT_EQ(again.wait_for(10s), std::future_status::ready);
            EXPECT_EQ(again.get(), other);
            EXPECT_EQ(signals.received(), signal);
        }
        EXPECT_FALSE(blocked(signal));  // the mask as it was
    }
}

}  // namespace
}  // namespace talvian
