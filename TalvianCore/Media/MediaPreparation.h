#pragma once
// One cancellable media load (opening a file, reading its stream facts) under the shared
// token. The load runs on its own thread; the caller polls the token every 25 ms while it
// waits, so a load stuck inside the library never holds a cancelled export: the caller
// fails at once, tells the load to stop, and whatever the load delivers later is dropped.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "Model/CoreTypes.h"

namespace talvian::MediaPreparation {

// How often a waiting caller reads the token.
inline constexpr std::chrono::milliseconds kPollInterval{25};

namespace detail {

// One value or one error, from whichever side ends it first; later ends are ignored.
template <class T>
struct Channel {
    std::mutex lock;
    std::condition_variable changed;
    bool ended = false;
    std::optional<T> value;
    std::exception_ptr error;

    void end(std::optional<T> result, std::exception_ptr failure) {
        std::lock_guard guard(lock);
        if (ended) return;
        ended = true;
        value = std::move(result);
        error = std::move(failure);
        changed.notify_all();
    }
};

inline bool cancelled(const CancellationToken& token) {
    return token && token->isCancelled();
}
inline std::exception_ptr cancelledError() {
    return std::make_exception_ptr(OperationCancelled());
}

}  // namespace detail

// Runs `operation` on a thread of its own and returns its value. Throws the operation's
// error unchanged, or OperationCancelled when the token is set before the
// start (nothing runs), while the operation runs (noticed within 25 ms, even when the
// operation never returns) or before its value is handed over. On every failure
// `cancelLoading` is started once on a thread of its own (not waited for). The operation
// must own what it touches: it may outlive the call.
template <class T>
T load(const CancellationToken& cancellation, std::function<void()> cancelLoading,
       std::function<T()> operation) {
    if (detail::cancelled(cancellation)) throw OperationCancelled();
    auto channel = std::make_shared<detail::Channel<T>>();
    std::thread([channel, cancellation, operation = std::move(operation)] {
        if (detail::cancelled(cancellation)) return channel->end(std::nullopt, detail::cancelledError());
        try {
            T value = operation();
            if (detail::cancelled(cancellation)) return channel->end(std::nullopt, detail::cancelledError());
            channel->end(std::move(value), nullptr);
        } catch (...) {
            channel->end(std::nullopt, std::current_exception());
        }
    }).detach();

    std::exception_ptr failure;
    {
        std::unique_lock guard(channel->lock);
        while (!channel->ended) {
            if (detail::cancelled(cancellation)) {
                guard.unlock();
                channel->end(std::nullopt, detail::cancelledError());
                guard.lock();
                break;
            }
            channel->changed.wait_for(guard, kPollInterval);
        }
        if (channel->value && !detail::cancelled(cancellation)) return std::move(*channel->value);
        failure = channel->error ? channel->error : detail::cancelledError();
    }
    if (cancelLoading) std::thread(std::move(cancelLoading)).detach();
    std::rethrow_exception(failure);
}

}  // namespace talvian::MediaPreparation
