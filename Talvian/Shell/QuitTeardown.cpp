#include "QuitTeardown.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>

#include "Workspace/Workspace.h"

namespace talvian {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGHUP, SIGINT};
// A process ended by a signal it handled reports it the way the shell does.
constexpr int kSignalStatusBase = 128;

// The pipe's write end, for the handler; -1 until installed.
volatile sig_atomic_t signalPipeInput = -1;

void onTerminationSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Non-blocking: a full pipe already holds a byte that wakes the event loop.
    [[maybe_unused]] const ssize_t written = ::write(signalPipeInput, &byte, 1);
    errno = saved;
}

}  // namespace

void quitWithTeardown(QCoreApplication& application, Workspace& workspace, std::chrono::milliseconds bound) {
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &workspace,
                     [&workspace, bound] { workspace.shutdown(bound); });
}

void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> close) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the signals keep their default effect
    signalPipeInput = ends[1];
    auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, &application);
    QObject::connect(
        notifier, &QSocketNotifier::activated, &application, [notifier, close = std::move(close)] {
            unsigned char received[64];
            const ssize_t count = ::read(static_cast<int>(notifier->socket()), received, sizeof received);
            if (count <= 0) return;
            // One way out: whatever arrives after the first signal finds the teardown under way.
            notifier->setEnabled(false);
            close();
            QCoreApplication::exit(kSignalStatusBase + received[0]);
        });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // A system call of another thread that the signal interrupts carries on.
    action.sa_flags = SA_RESTART;
    for (int signal : kTerminationSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace talvian
