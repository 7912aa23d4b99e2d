// A signal that ends the program (Ctrl-C, SIGTERM, a session's logout) while it writes something:
// instead of dying half-way, the program notices the signal and stops the running operation
// through its cancel flag, so that it can tidy up (no partial archive left, the card's lock let
// go) and say what state things are in. morv-card watches SIGINT and SIGTERM; the window SIGHUP
// too, which a session sends its programs as it ends.
#pragma once

#include <QObject>

#include <csignal>
#include <initializer_list>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace ZovaZode {

class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    // Catches the signals `caught` until destruction; then the previous handlers return.
    explicit InterruptWatcher(QObject *parent = nullptr,
                              std::initializer_list<int> caught = {SIGINT, SIGTERM});
    ~InterruptWatcher() override;

    // Whether a signal arrived since construction; for loops that run without an event loop.
    static bool interrupted();
    // The last signal caught by any watcher of the process, 0 for none: it decides the exit
    // status once the operation has been stopped and tidied up.
    static int lastSignal();

signals:
    // Delivered through the event loop, at once after the signal.
    void interruptRequested();

private:
    static void onSignal(int signal);

    QSocketNotifier *m_notifier = nullptr;
    // Each signal caught, with the handler it had before.
    std::vector<std::pair<int, struct sigaction>> m_previous;
};

} // namespace ZovaZode
