// The progress bar morv-card draws on standard error while a transfer runs; drawn only when
// standard error is a terminal, so that logs and pipes never fill with carriage returns.
#pragma once

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

    // fraction from 0 to 1; redraws only when the line would change.
    void update(double fraction, const QString &label);
    // Ends the line so that the next message starts on its own.
    void finish();

private:
    bool m_enabled;
    bool m_drawn = false;
    QString m_lastLine;
};

} // namespace ZovaZode
