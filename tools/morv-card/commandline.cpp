// CommandLine: reading and checking the arguments of morv-card.
#include "commandline.h"

#include "cardtool.h"
#include "domain/namecheck.h"
#include "toolerror.h"

namespace ZovaZode {

using namespace CommandTable;

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    line.read(arguments, false);
    if (line.has(Version))
        return line;
    if (line.m_arguments.isEmpty() && !line.has(Help))
        throw ToolError::usage(QStringLiteral("no command given; see 'morv-card --help'"));
    const QString name = line.m_arguments.isEmpty() ? QStringLiteral("help") : line.m_arguments.takeFirst();
    line.m_command = findCommand(name);
    if (!line.m_command)
        throw ToolError::usage(QStringLiteral("unknown command '%1'; see 'morv-card --help'").arg(name));
    // `COMMAND --help` is `help COMMAND`, whatever else it was given.
    if (line.has(Help)) {
        line.m_arguments =
            line.m_command->run == &CardTool::help ? line.m_arguments.mid(0, 1) : QStringList{name};
        line.m_command = findCommand(QStringLiteral("help"));
        return line;
    }
    line.check();
    return line;
}

int CommandLine::optionsIn(const QStringList &arguments)
{
    CommandLine line;
    line.read(arguments, true);
    return line.m_given;
}

void CommandLine::read(const QStringList &arguments, bool lenient)
{
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            m_arguments.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        try {
            if (argument.startsWith(QLatin1String("--"))) {
                const int equals = argument.indexOf(QLatin1Char('='));
                const QString name = equals > 2 ? argument.left(equals) : argument;
                const OptionInfo *option = findOption(name);
                if (!option)
                    throw ToolError::usage(QStringLiteral("unknown option '%1'").arg(name));
                take(*option, argument.mid(equals + 1), equals > 2, arguments, i);
                continue;
            }
            // Short options bundled in one word (-qy); one that takes a value takes the rest of
            // the word, or the next argument.
            for (int j = 1; j < argument.size(); ++j) {
                const OptionInfo *option = findOption(argument.at(j));
                if (!option)
                    throw ToolError::usage(QStringLiteral("unknown option '-%1'").arg(argument.at(j)));
                const bool inlined = option->value && j + 1 < argument.size();
                take(*option, argument.mid(j + 1), inlined, arguments, i);
                if (option->value)
                    break;
            }
        } catch (const ToolError &) {
            if (!lenient)
                throw;
        }
    }
}

void CommandLine::take(const OptionInfo &option, QString value, bool inlined, const QStringList &arguments,
                       int &index)
{
    const QString name = QLatin1String(option.name);
    if (!option.value) {
        if (inlined)
            throw ToolError::usage(QStringLiteral("%1 takes no value").arg(name));
        m_given |= option.option;
        return;
    }
    if (!inlined) {
        if (index + 1 >= arguments.size())
            throw ToolError::usage(QStringLiteral("%1 needs a value").arg(name));
        value = arguments.at(++index);
    }
    if (value.isEmpty())
        throw ToolError::usage(QStringLiteral("%1 needs a value").arg(name));
    if (option.minimum < option.maximum) {
        bool ok = false;
        const int number = value.toInt(&ok);
        if (!ok || number < option.minimum || number > option.maximum)
            throw ToolError::usage(QStringLiteral("%1 takes a number from %2 to %3, not '%4'")
                                       .arg(name)
                                       .arg(option.minimum)
                                       .arg(option.maximum)
                                       .arg(value));
    }
    m_given |= option.option;
    m_values.insert(option.option, value);
}

void CommandLine::check() const
{
    const CommandInfo &info = *m_command;
    const QString usageText = usageLine(info);
    if (m_arguments.size() < minArguments(info) || m_arguments.size() > maxArguments(info))
        throw ToolError::usage(QStringLiteral("wrong number of arguments for %1").arg(info.name), usageText);
    const QStringList words = argumentWords(info, m_arguments.size());
    for (int i = 0; i < m_arguments.size(); ++i) {
        const ArgumentKind kind = argumentKind(words.at(i));
        if (m_arguments.at(i) == QLatin1String("-") &&
            (kind == ArgumentKind::File || kind == ArgumentKind::Folder))
            throw ToolError::usage(
                QStringLiteral("'-' is not taken for %1: morv-card reads and writes files by name, not "
                               "standard input or output")
                    .arg(words.at(i)));
    }

    for (const OptionInfo &option : options()) {
        if (!has(option.option))
            continue;
        const QString name = QLatin1String(option.name);
        if (!(option.option & (Global | info.options)))
            throw ToolError::usage(QStringLiteral("%1 does not take %2").arg(info.name, name), usageText);
        for (const OptionInfo &other : options()) {
            if ((option.requires & other.option) && !has(other.option))
                throw ToolError::usage(QStringLiteral("%1 goes with %2").arg(name, other.name), usageText);
            if ((option.excludes & other.option) && has(other.option))
                throw ToolError::usage(QStringLiteral("%1 and %2 exclude each other").arg(name, other.name),
                                       usageText);
        }
    }
}

int CommandLine::songNumber(const QString &slot)
{
    bool ok = false;
    const int number = slot.toInt(&ok);
    if (!ok || number < 1 || number > 12)
        throw ToolError::usage(QStringLiteral("bad slot '%1': song slots are numbered 1 to 12").arg(slot));
    return number - 1;
}

QString CommandLine::checkedName(const QString &name)
{
    if (name.isEmpty())
        throw ToolError::usage(QStringLiteral("the new name is empty"));
    // The window shows the refusal in a box with a blank line between its two sentences; on one
    // line of a terminal they are joined by a space.
    const QString refusal = renameRefusal(name);
    if (!refusal.isEmpty())
        throw ToolError(QString(refusal).replace(QStringLiteral("\n\n"), QStringLiteral(" ")));
    return name;
}

} // namespace ZovaZode
