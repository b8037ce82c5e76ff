#include "TerminationSignals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "Model/Localization.h"

namespace talvian {

namespace {

sigset_t terminationSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

MediaError setupError(int code) {
    return MediaError(L("无法接收退出信号：%@。", systemErrorText(code)));
}

}  // namespace

TerminationSignals::TerminationSignals(Callback onSignal) : onSignal_(std::move(onSignal)) {
    const sigset_t set = terminationSet();
    // Blocked, the signals stay pending until the listener reads them from its descriptor.
    if (int code = ::pthread_sigmask(SIG_BLOCK, &set, &previousMask_); code != 0) throw setupError(code);
    signals_ = UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
    stop_ = UniqueFd(::eventfd(0, EFD_CLOEXEC));
    if (!signals_ || !stop_) {
        int code = errno;
        ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        throw setupError(code);
    }
    listener_ = std::thread([this] { listen(); });
}

TerminationSignals::~TerminationSignals() {
    const std::uint64_t one = 1;
    while (::write(stop_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    listener_.join();
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

std::optional<int> TerminationSignals::received() const {
    int signal = first_.load();
    if (signal == 0) return std::nullopt;
    return signal;
}

void TerminationSignals::listen() {
    for (;;) {
        pollfd entries[] = {{signals_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        signalfd_siginfo info{};
        ssize_t n = ::read(signals_.get(), &info, sizeof info);
        if (n != static_cast<ssize_t>(sizeof info)) continue;
        const int signal = static_cast<int>(info.ssi_signo);
        int none = 0;
        first_.compare_exchange_strong(none, signal);
        if (onSignal_) onSignal_(signal);
    }
}

}  // namespace talvian
