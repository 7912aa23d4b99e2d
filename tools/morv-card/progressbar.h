// The progress bar morv-card draws on standard error while a transfer runs; drawn only when
// standard error is a terminal, so that logs and pipes never fill with carriage returns. Like the
// window's progress dialog it tells the speed and the time left once a phase has run a second.
#pragma once

#include <QElapsedTimer>
#include <QString>

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
    // "12.5 MB/s, 1 min 5 s left", or empty before a second has passed.
    static QString rateText(qint64 bytes, double fraction, qint64 elapsedMs);

    // fraction from 0 to 1; bytes: what the phase has moved so far, -1 when unknown. Redraws at
    // most a few times a second, and at once when the percentage or the label changes.
    void update(double fraction, const QString &label, qint64 bytes = -1);
    // A new phase (the read-back) starts its speed from nothing.
    void restart();
    // Ends the line so that the next message starts on its own.
    void finish();

private:
    bool m_enabled;
    bool m_drawn = false;
    QString m_lastLine;
    QString m_lastLabel;
    int m_lastPercent = -1;
    QElapsedTimer m_phase;
    QElapsedTimer m_sinceDrawn;
};

} // namespace ZovaZode
