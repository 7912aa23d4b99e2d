// Log recording for tests; see messagelog.h.
#include "messagelog.h"

#include <QMutex>
#include <QMutexLocker>
#include <QVector>

namespace ZovaZode::TestSupport {

namespace {
QMutex s_mutex;
MessageLog *s_current = nullptr;
} // namespace

MessageLog::MessageLog()
{
    QMutexLocker lock(&s_mutex);
    s_current = this;
    m_previous = qInstallMessageHandler(&MessageLog::handle);
}

MessageLog::~MessageLog()
{
    QMutexLocker lock(&s_mutex);
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

QStringList MessageLog::lines(QtMsgType type) const
{
    QMutexLocker lock(&s_mutex);
    QStringList result;
    for (const auto &line : m_lines) {
        if (line.first == type)
            result << line.second;
    }
    return result;
}

void MessageLog::clear()
{
    QMutexLocker lock(&s_mutex);
    m_lines.clear();
}

void MessageLog::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    QMutexLocker lock(&s_mutex);
    if (!s_current)
        return;
    s_current->m_lines.append({type, text});
    if (s_current->m_previous)
        s_current->m_previous(type, context, text);
}

} // namespace ZovaZode::TestSupport
