// The progress bar morv-card draws on standard error while a transfer runs; drawn only when
// standard error is a terminal, so that logs and pipes never fill with carriage returns. Like the
// window's progress dialog it tells the speed and the time left once a phase has run a second.
// It fits the terminal's width, read again when the terminal is resized; on a terminal without
// cursor control (TERM=dumb) it prints a plain line now and then instead of redrawing one.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <csignal>

namespace ZovaZode {

class ProgressBar
{
public:
    // enabled: false draws nothing (--quiet, or standard error is not a terminal).
    explicit ProgressBar(bool enabled);
    ~ProgressBar();

    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;

    static bool stderrIsTerminal();
    // "12.5 MB/s" and "1 min 5 s left"; empty before a second has passed, or when unknown.
    static QString speedText(qint64 bytes, qint64 elapsedMs);
    static QString timeLeftText(double fraction, qint64 elapsedMs);
    // At most columns - 1 characters (the last column wraps on some terminals): the label, the
    // bar, the percentage, the speed and the time left, leaving out first what is missed least
    // (the speed, then the bar, then the time left) and shortening the label last.
    static QString layout(const QString &label, double fraction, const QString &speed, const QString &left,
                          int columns);

    // fraction from 0 to 1; bytes: what the phase has moved so far, -1 when unknown. Redraws at
    // most a few times a second, and at once when the percentage or the label changes.
    void update(double fraction, const QString &label, qint64 bytes = -1);
    // A new phase (the read-back) starts its speed from nothing.
    void restart();
    // Clears the bar, so that the next message starts a line of its own.
    void finish();

private:
    static void onResize(int signal);

    bool m_enabled;
    // TERM=dumb (or no TERM): a line each time, never redrawn.
    bool m_plain;
    int m_columns;
    bool m_drawn = false;
    QString m_lastLine;
    QString m_lastLabel;
    int m_lastPercent = -1;
    QElapsedTimer m_phase;
    QElapsedTimer m_sinceDrawn;
    struct sigaction m_previousResize;
};

} // namespace ZovaZode
