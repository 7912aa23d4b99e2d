// The command line of morv-card: which command, its arguments and its options, read through the
// command table and checked against what that command takes before anything is opened.
#pragma once

#include "commandtable.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace ZovaZode {

class CommandLine
{
public:
    // `arguments` without the program name. Throws ToolError::usage on anything the command does
    // not take. --help and `COMMAND --help` are the command `help`; --version is no command.
    static CommandLine parse(const QStringList &arguments);
    // The Options in `arguments`, whatever else is wrong with them: a usage error is answered
    // as --json and --verbose ask too.
    static int optionsIn(const QStringList &arguments);

    // A slot as typed (1 to 12) to the song number the card uses (0 to 11); throws a usage error.
    static int songNumber(const QString &slot);
    // A new name for the card, a song or a new file, under the window's name rules; throws
    // ToolError with the window's message.
    static QString checkedName(const QString &name);

    // Null when only the version was asked for.
    const CommandTable::CommandInfo *command() const { return m_command; }
    QString commandName() const { return m_command ? QLatin1String(m_command->name) : QString(); }
    const QStringList &arguments() const { return m_arguments; }
    QString argument(int index) const { return m_arguments.value(index); }

    bool has(CommandTable::Option option) const { return m_given & option; }
    // What was given with `option`, checked against its range; empty when it was not given.
    QString value(CommandTable::Option option) const { return m_values.value(option); }

private:
    // Takes the options out of `arguments`, and the other words into m_arguments; `lenient`
    // passes over what it cannot read instead of throwing.
    void read(const QStringList &arguments, bool lenient);
    // `option`, with its value from the same word (`inlined`) or the next argument.
    void take(const CommandTable::OptionInfo &option, QString value, bool inlined,
              const QStringList &arguments, int &index);
    void check() const;

    int m_given = 0;
    QHash<int, QString> m_values;
    const CommandTable::CommandInfo *m_command = nullptr;
    QStringList m_arguments;
};

} // namespace ZovaZode
