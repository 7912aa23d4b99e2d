// Where the program's log lines go in morv-card: to standard error with --verbose, nowhere
// otherwise.
#pragma once

#include <QString>
#include <QtGlobal>

namespace ZovaZode {

class MessageLog
{
public:
    // Installs the handler for the whole process until destruction; one at a time.
    explicit MessageLog(bool verbose);
    ~MessageLog();

    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMessageHandler m_previous;
};

} // namespace ZovaZode
