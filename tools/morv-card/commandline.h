// The command line of morv-card: which command, its arguments and its options, checked
// against what that command takes before anything is opened.
#pragma once

#include <QString>
#include <QStringList>

namespace ZovaZode {

class CommandLine
{
public:
    // `arguments` without the program name. Throws ToolError::usage on anything the command
    // does not take; --help, `help [COMMAND]` and --version are not errors.
    static CommandLine parse(const QStringList &arguments);

    // A slot as typed (1 to 12) to the song number the card uses (0 to 11); throws a usage error.
    static int songNumber(const QString &slot);
    // A new name for the card, a song or a new file, under the window's name rules; throws
    // ToolError with the window's message.
    static QString checkedName(const QString &name);

    // With --help, the command is empty or one the table knows.
    bool help() const { return m_help; }
    bool version() const { return m_version; }
    const QString &command() const { return m_command; }
    const QStringList &arguments() const { return m_arguments; }
    QString argument(int index) const { return m_arguments.value(index); }

    bool json() const { return m_json; }
    bool yes() const { return m_yes; }
    bool quiet() const { return m_quiet; }
    bool verbose() const { return m_verbose; }
    bool full() const { return m_full; }
    // -1 when not given.
    int parts() const { return m_parts; }
    bool hasName() const { return m_hasName; }
    const QString &name() const { return m_name; }
    bool noSafetyCopy() const { return m_noSafetyCopy; }
    bool noVerify() const { return m_noVerify; }
    bool noLock() const { return m_noLock; }
    bool hasSafetyDir() const { return m_hasSafetyDir; }
    const QString &safetyDir() const { return m_safetyDir; }

private:
    void check() const;

    bool m_help = false;
    bool m_version = false;
    QString m_command;
    QStringList m_arguments;
    bool m_json = false;
    bool m_yes = false;
    bool m_quiet = false;
    bool m_verbose = false;
    bool m_full = false;
    int m_parts = -1;
    bool m_hasName = false;
    QString m_name;
    bool m_noSafetyCopy = false;
    bool m_noVerify = false;
    bool m_noLock = false;
    bool m_hasSafetyDir = false;
    QString m_safetyDir;
};

} // namespace ZovaZode
