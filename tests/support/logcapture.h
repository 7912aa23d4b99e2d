// Records the log lines of every thread while it lives, so that a test can check the exact texts
// a component logged, in the worker thread too. The lines still reach the previous handler.
#pragma once

#include <QMutex>
#include <QStringList>
#include <QVector>

namespace ZovaZode::TestSupport {

class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&s_mutex);
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::record);
    }
    ~LogCapture()
    {
        QMutexLocker lock(&s_mutex);
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    // The lines of one level (QtMsgType), or of all, in the order they were logged.
    QStringList lines(int type = -1) const
    {
        QMutexLocker lock(&s_mutex);
        QStringList result;
        for (const auto &[level, text] : m_lines) {
            if (type < 0 || level == type)
                result << text;
        }
        return result;
    }
    bool contains(const QString &text) const { return !lines().filter(text).isEmpty(); }

private:
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        QMutexLocker lock(&s_mutex);
        if (!s_current)
            return;
        s_current->m_lines.append({type, text});
        if (s_current->m_previous)
            s_current->m_previous(type, context, text);
    }

    static inline QMutex s_mutex;
    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QVector<QPair<QtMsgType, QString>> m_lines;
};

} // namespace ZovaZode::TestSupport
