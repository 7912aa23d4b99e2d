// A signal that ends the program (Ctrl-C, SIGTERM, a session's logout) while it writes something:
// instead of dying half-way, the program notices the signal and stops the running operation
// through its cancel flag, so that it can tidy up (no partial archive left, the card's lock let
// go) and say what state things are in. Both programs watch SIGINT, SIGTERM and SIGHUP, which a
// closing terminal or an ending session sends its programs.
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
    // Catches the signals `caught` until destruction; then the previous handlers return. A signal
    // ignored when the watcher starts stays ignored: `nohup` and a script's background job ask
    // for the program to run on through a hangup or a Ctrl-C.
    explicit InterruptWatcher(QObject *parent = nullptr,
                              std::initializer_list<int> caught = {SIGINT, SIGTERM, SIGHUP});
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
