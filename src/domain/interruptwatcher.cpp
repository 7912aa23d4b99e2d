// InterruptWatcher: a signal handler that only sets a flag and writes one byte into a pipe,
// the two things that are safe inside a handler; the pipe wakes the event loop.
#include "domain/interruptwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ZovaZode {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};

} // namespace

void InterruptWatcher::onSignal(int signal)
{
    const int savedErrno = errno;
    g_interrupted = 1;
    g_signal = signal;
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing is lost.
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    }
    errno = savedErrno;
}

InterruptWatcher::InterruptWatcher(QObject *parent, std::initializer_list<int> caught) : QObject(parent)
{
    g_interrupted = 0;
    g_signal = 0;
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    if (g_pipe[0] >= 0) {
        m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this]() {
            char bytes[16];
            while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
            }
            emit interruptRequested();
        });
    }

    struct sigaction action = {};
    action.sa_handler = &InterruptWatcher::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : caught) {
        struct sigaction previous = {};
        if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
        m_previous.emplace_back(signal, previous);
    }
}

InterruptWatcher::~InterruptWatcher()
{
    for (const auto &previous : m_previous)
        sigaction(previous.first, &previous.second, nullptr);
}

bool InterruptWatcher::interrupted()
{
    return g_interrupted != 0;
}

int InterruptWatcher::lastSignal()
{
    return g_signal;
}

} // namespace ZovaZode
