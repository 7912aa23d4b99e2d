// ProgressBar: one line on standard error, redrawn in place.
#include "progressbar.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace ZovaZode {

namespace {

constexpr int kWidth = 30;
constexpr qint64 kRedrawMs = 200;
// A guess at the speed needs this much of the phase behind it.
constexpr qint64 kRateDelayMs = 1000;

QString duration(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

} // namespace

ProgressBar::ProgressBar(bool enabled) : m_enabled(enabled)
{
    m_phase.start();
}

ProgressBar::~ProgressBar()
{
    finish();
}

bool ProgressBar::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

QString ProgressBar::rateText(qint64 bytes, double fraction, qint64 elapsedMs)
{
    if (bytes < 0 || elapsedMs < kRateDelayMs)
        return QString();
    const double seconds = double(elapsedMs) / 1000.0;
    QString text = QStringLiteral("%1 MB/s").arg(double(bytes) / 1e6 / seconds, 0, 'f', 1);
    if (fraction > 0.0 && fraction <= 1.0)
        text +=
            QStringLiteral(", %1 left").arg(duration(std::llround(seconds * (1.0 - fraction) / fraction)));
    return text;
}

void ProgressBar::restart()
{
    m_phase.restart();
}

void ProgressBar::update(double fraction, const QString &label, qint64 bytes)
{
    if (!m_enabled)
        return;
    if (!std::isfinite(fraction))
        fraction = 0.0;
    fraction = std::max(0.0, std::min(1.0, fraction));
    const int percent = int(fraction * 100.0);
    const bool urgent = percent != m_lastPercent || label != m_lastLabel;
    if (!urgent && m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < kRedrawMs)
        return;
    const int filled = int(fraction * kWidth);
    QString line = QStringLiteral("%1 [%2%3] %4%")
                       .arg(label)
                       .arg(QString(filled, QLatin1Char('#')))
                       .arg(QString(kWidth - filled, QLatin1Char('.')))
                       .arg(percent, 3);
    const QString rate = rateText(bytes, fraction, m_phase.elapsed());
    if (!rate.isEmpty())
        line += QStringLiteral("  ") + rate;
    if (line == m_lastLine)
        return;
    m_lastLine = line;
    m_lastLabel = label;
    m_lastPercent = percent;
    m_sinceDrawn.start();
    m_drawn = true;
    // \r back to the start, and clear the rest of a longer previous line.
    const QByteArray bytesOut = "\r" + line.toLocal8Bit() + "\033[K";
    std::fwrite(bytesOut.constData(), 1, size_t(bytesOut.size()), stderr);
    std::fflush(stderr);
}

void ProgressBar::finish()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_lastLine.clear();
    m_lastLabel.clear();
    m_lastPercent = -1;
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace ZovaZode
