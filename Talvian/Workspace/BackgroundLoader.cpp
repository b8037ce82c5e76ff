#include "BackgroundLoader.h"

namespace talvian {

BackgroundLoader::BackgroundLoader(std::chrono::milliseconds delay) : delay_(delay) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        // Taken out first: the start may request the next load.
        const auto start = std::move(pending_);
        pending_ = nullptr;
        if (start) start();
    });
}

LoadTicket BackgroundLoader::request(std::function<void(const LoadTicket&)> start) {
    cancel();
    const LoadTicket ticket = current_;
    pending_ = [this, ticket, start = std::move(start)] {
        if (isCurrent(ticket)) start(ticket);
    };
    timer_.start(delay_);
    return ticket;
}

void BackgroundLoader::cancel() {
    timer_.stop();
    pending_ = nullptr;
    current_.token->cancel();
    current_ = {Uuid::random(), makeCancellation()};
}

bool BackgroundLoader::isCurrent(const LoadTicket& ticket) const {
    return ticket.generation == current_.generation && !ticket.token->isCancelled();
}

}  // namespace talvian
