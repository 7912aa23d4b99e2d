// The one way a command of morv-card ends early: a message for standard error and the exit
// status that goes with it.
#pragma once

#include <QJsonObject>
#include <QString>

#include <exception>

namespace ZovaZode {

// Besides these, 128 plus the signal's number when a closed terminal (SIGHUP, 129), Ctrl-C (130) or
// SIGTERM (143) stopped a command, as a shell reports a program the signal killed.
enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2, ExitSignalBase = 128 };

class ToolError : public std::exception
{
public:
    ToolError(const QString &message, int status = ExitFailure) : m_message(message), m_status(status) {}

    const char *what() const noexcept override { return "morv-card error"; }
    const QString &message() const { return m_message; }
    int status() const { return m_status; }
    // Lines for standard error after the message, as they are: the usage of the command.
    const QString &hint() const { return m_hint; }
    // What the command had found out or done when it failed, for --json.
    const QJsonObject &details() const { return m_details; }
    void setDetails(const QJsonObject &details) { m_details = details; }

    // A refusal of the command line itself: wrong arguments, options or slot numbers.
    static ToolError usage(const QString &message, const QString &hint = QString())
    {
        ToolError error(message, ExitUsage);
        error.m_hint = hint;
        return error;
    }
    // A command stopped by `signal` after it tidied up.
    static ToolError interrupted(const QString &message, int signal)
    {
        return ToolError(message, ExitSignalBase + signal);
    }

private:
    QString m_message;
    int m_status;
    QString m_hint;
    QJsonObject m_details;
};

} // namespace ZovaZode
