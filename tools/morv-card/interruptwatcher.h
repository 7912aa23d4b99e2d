// Ctrl-C and SIGTERM while morv-card writes something: instead of dying half-way, the tool
// notices the signal and stops the running operation through its cancel flag, so that it
// can tidy up (no partial archive left) and say what state things are in.
#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace ZovaZode {

class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    // Catches SIGINT and SIGTERM until destruction; then the previous handlers return.
    explicit InterruptWatcher(QObject *parent = nullptr);
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
    struct sigaction m_previousInt;
    struct sigaction m_previousTerm;
};

} // namespace ZovaZode
