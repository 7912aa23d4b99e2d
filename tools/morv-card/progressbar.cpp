// ProgressBar: one line on standard error, redrawn in place.
#include "progressbar.h"

#include <QStringList>

#include <cmath>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ZovaZode {

namespace {

constexpr int kMaxBar = 30;
constexpr int kMinBar = 10;
constexpr qint64 kRedrawMs = 200;
// A plain line at most this often, besides one when the label changes.
constexpr qint64 kPlainLineMs = 5000;
// A guess at the speed needs this much of the phase behind it.
constexpr qint64 kRateDelayMs = 1000;

volatile std::sig_atomic_t g_resized = 0;

QString duration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

int terminalColumns()
{
    struct winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

bool plainTerminal()
{
    const QByteArray term = qgetenv("TERM");
    return term.isEmpty() || term == "dumb";
}

void writeError(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

ProgressBar::ProgressBar(bool enabled)
    : m_enabled(enabled), m_plain(plainTerminal()), m_columns(enabled ? terminalColumns() : 80)
{
    m_phase.start();
    if (!m_enabled)
        return;
    // Restarted system calls: the worker thread may be the one the signal interrupts.
    struct sigaction action = {};
    action.sa_handler = &ProgressBar::onResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, &m_previousResize);
}

ProgressBar::~ProgressBar()
{
    finish();
    if (m_enabled)
        sigaction(SIGWINCH, &m_previousResize, nullptr);
}

void ProgressBar::onResize(int)
{
    g_resized = 1;
}

bool ProgressBar::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

QString ProgressBar::speedText(qint64 bytes, qint64 elapsedMs)
{
    if (bytes < 0 || elapsedMs < kRateDelayMs)
        return QString();
    return QStringLiteral("%1 MB/s").arg(double(bytes) / 1e3 / double(elapsedMs), 0, 'f', 1);
}

QString ProgressBar::timeLeftText(double fraction, qint64 elapsedMs)
{
    if (elapsedMs < kRateDelayMs || !(fraction > 0.0 && fraction <= 1.0))
        return QString();
    const double seconds = double(elapsedMs) / 1000.0;
    return QStringLiteral("%1 left").arg(duration(std::llround(seconds * (1.0 - fraction) / fraction)));
}

QString ProgressBar::layout(const QString &label, double fraction, const QString &speed, const QString &left,
                            int columns)
{
    const int width = std::max(columns - 1, 1);
    const QString percent = QStringLiteral("%1%").arg(int(fraction * 100.0), 3);
    const QString both = speed.isEmpty() || left.isEmpty() ? QString(speed + left)
                                                           : QString(speed + QStringLiteral(", ") + left);
    // The rate shown and whether the bar is, in the order they are given up.
    const std::pair<QString, bool> choices[] = {
        {both, true}, {left, true}, {left, false}, {QString(), true}, {QString(), false}};
    for (const auto &[rate, withBar] : choices) {
        const QString tail =
            QLatin1Char(' ') + percent + (rate.isEmpty() ? QString() : QStringLiteral("  ") + rate);
        const int room = width - label.size() - tail.size() - 3;
        if (withBar && room >= kMinBar) {
            const int bar = std::min(room, kMaxBar);
            const int filled = int(fraction * bar);
            return label + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                   QString(bar - filled, QLatin1Char('.')) + QLatin1Char(']') + tail;
        }
        if (!withBar && label.size() + tail.size() <= width)
            return label + tail;
    }
    return QString(label.left(std::max(width - percent.size() - 1, 0)) + QLatin1Char(' ') + percent)
        .right(width);
}

void ProgressBar::restart()
{
    m_phase.restart();
}

void ProgressBar::update(double fraction, const QString &label, qint64 bytes)
{
    if (!m_enabled)
        return;
    const bool resized = g_resized != 0;
    if (resized) {
        g_resized = 0;
        m_columns = terminalColumns();
    }
    if (!std::isfinite(fraction))
        fraction = 0.0;
    fraction = std::max(0.0, std::min(1.0, fraction));
    const int percent = int(fraction * 100.0);
    const bool urgent =
        resized || (m_plain ? label != m_lastLabel : percent != m_lastPercent || label != m_lastLabel);
    const qint64 wait = m_plain ? kPlainLineMs : kRedrawMs;
    if (!urgent && m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < wait)
        return;
    const qint64 elapsed = m_phase.elapsed();
    const QString line =
        layout(label, fraction, speedText(bytes, elapsed), timeLeftText(fraction, elapsed), m_columns);
    if (line == m_lastLine && !resized)
        return;
    m_lastLine = line;
    m_lastLabel = label;
    m_lastPercent = percent;
    m_sinceDrawn.start();
    m_drawn = true;
    // Back to the start of the line, and the rest of a longer previous line cleared.
    writeError(m_plain ? QByteArray(line.toLocal8Bit() + '\n')
                       : QByteArray("\r" + line.toLocal8Bit() + "\033[K"));
}

void ProgressBar::finish()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_lastLine.clear();
    m_lastLabel.clear();
    m_lastPercent = -1;
    if (!m_plain)
        writeError("\r\033[K");
}

} // namespace ZovaZode
