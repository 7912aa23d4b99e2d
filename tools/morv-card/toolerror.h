// The one way a command of morv-card ends early: a message for standard error and the exit
// status that goes with it.
#pragma once

#include <QString>

#include <exception>

namespace ZovaZode {

enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

class ToolError : public std::exception
{
public:
    ToolError(const QString &message, ExitStatus status = ExitFailure) : m_message(message), m_status(status)
    {}

    const char *what() const noexcept override { return "morv-card error"; }
    const QString &message() const { return m_message; }
    ExitStatus status() const { return m_status; }

    // A refusal of the command line itself: wrong arguments, options or slot numbers.
    static ToolError usage(const QString &message) { return ToolError(message, ExitUsage); }

private:
    QString m_message;
    ExitStatus m_status;
};

} // namespace ZovaZode
