// ProgressBar: one line on standard error, redrawn in place.
#include "progressbar.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace ZovaZode {

namespace {

constexpr int kWidth = 40;

} // namespace

ProgressBar::ProgressBar(bool enabled) : m_enabled(enabled) {}

ProgressBar::~ProgressBar()
{
    finish();
}

bool ProgressBar::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void ProgressBar::update(double fraction, const QString &label)
{
    if (!m_enabled)
        return;
    if (!std::isfinite(fraction))
        fraction = 0.0;
    fraction = std::max(0.0, std::min(1.0, fraction));
    const int filled = int(fraction * kWidth);
    const QString line = QStringLiteral("%1 [%2%3] %4%")
                             .arg(label)
                             .arg(QString(filled, QLatin1Char('#')))
                             .arg(QString(kWidth - filled, QLatin1Char('.')))
                             .arg(int(fraction * 100.0), 3);
    if (line == m_lastLine)
        return;
    m_lastLine = line;
    m_drawn = true;
    // \r back to the start, and clear the rest of a longer previous line.
    const QByteArray bytes = "\r" + line.toLocal8Bit() + "\033[K";
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void ProgressBar::finish()
{
    if (!m_drawn)
        return;
    m_drawn = false;
    m_lastLine.clear();
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace ZovaZode
