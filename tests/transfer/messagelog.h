// Records the log lines of every thread while a test runs, so that a test can check the exact
// texts a transfer logged in the worker thread. Lines still reach the previous handler.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace ZovaZode::TestSupport {

class MessageLog
{
public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    // The lines of one level, in the order they were logged.
    QStringList lines(QtMsgType type) const;
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);

    QtMessageHandler m_previous;
    QVector<QPair<QtMsgType, QString>> m_lines;
};

} // namespace ZovaZode::TestSupport
