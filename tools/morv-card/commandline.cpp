// CommandLine: parsing and checking the arguments of morv-card.
#include "commandline.h"

#include "commandtable.h"
#include "domain/namecheck.h"
#include "toolerror.h"

#include <initializer_list>

namespace ZovaZode {

using namespace CommandTable;

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    bool optionsEnded = false;
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            words.append(argument);
            continue;
        }
        QString option = argument;
        QString value;
        bool hasValue = false;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 2) {
            option = argument.left(equals);
            value = argument.mid(equals + 1);
            hasValue = true;
        }
        auto takeValue = [&]() {
            if (hasValue)
                return value;
            if (i + 1 >= arguments.size())
                throw ToolError::usage(option + QStringLiteral(" needs a value"));
            return arguments.at(++i);
        };
        auto noValue = [&]() {
            if (hasValue)
                throw ToolError::usage(option + QStringLiteral(" takes no value"));
        };

        if (option == QLatin1String("--")) {
            optionsEnded = true;
        } else if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            noValue();
            line.m_help = true;
        } else if (option == QLatin1String("--version")) {
            noValue();
            line.m_version = true;
        } else if (option == QLatin1String("--json")) {
            noValue();
            line.m_json = true;
        } else if (option == QLatin1String("--yes") || option == QLatin1String("-y")) {
            noValue();
            line.m_yes = true;
        } else if (option == QLatin1String("--quiet") || option == QLatin1String("-q")) {
            noValue();
            line.m_quiet = true;
        } else if (option == QLatin1String("--verbose") || option == QLatin1String("-v")) {
            noValue();
            line.m_verbose = true;
        } else if (option == QLatin1String("--full")) {
            noValue();
            line.m_full = true;
        } else if (option == QLatin1String("--name")) {
            line.m_name = takeValue();
            line.m_hasName = true;
        } else if (option == QLatin1String("--no-safety-copy")) {
            noValue();
            line.m_noSafetyCopy = true;
        } else if (option == QLatin1String("--no-verify")) {
            noValue();
            line.m_noVerify = true;
        } else if (option == QLatin1String("--no-lock")) {
            noValue();
            line.m_noLock = true;
        } else if (option == QLatin1String("--safety-dir")) {
            line.m_safetyDir = takeValue();
            line.m_hasSafetyDir = true;
            if (line.m_safetyDir.isEmpty())
                throw ToolError::usage(QStringLiteral("--safety-dir needs a folder"));
        } else if (option == QLatin1String("--parts")) {
            const QString text = takeValue();
            bool ok = false;
            line.m_parts = text.toInt(&ok);
            if (!ok || line.m_parts < 1 || line.m_parts > 60)
                throw ToolError::usage(
                    QStringLiteral("--parts takes a number from 1 to 60, not '%1'").arg(text));
        } else {
            throw ToolError::usage(QStringLiteral("unknown option '%1'").arg(argument));
        }
    }

    if ((line.m_help || line.m_version) && words.isEmpty())
        return line;
    if (words.isEmpty())
        throw ToolError::usage(QStringLiteral("no command given; see 'morv-card --help'"));
    line.m_command = words.takeFirst();
    // `help COMMAND` is `COMMAND --help`.
    if (line.m_command == QLatin1String("help")) {
        line.m_help = true;
        if (words.size() > 1)
            throw ToolError::usage(QStringLiteral("usage: morv-card help [COMMAND]"));
        line.m_command = words.value(0);
        words.clear();
    }
    line.m_arguments = words;
    if (!line.m_command.isEmpty() && !findCommand(line.m_command))
        throw ToolError::usage(
            QStringLiteral("unknown command '%1'; see 'morv-card --help'").arg(line.m_command));
    if (!line.m_help)
        line.check();
    return line;
}

void CommandLine::check() const
{
    const CommandInfo *info = findCommand(m_command);
    const QString usageLine = QStringLiteral("usage: morv-card ") + synopsis(*info);
    if (m_arguments.size() < minArguments(*info) || m_arguments.size() > maxArguments(*info))
        throw ToolError::usage(usageLine);
    const QStringList words = argumentWords(*info, m_arguments.size());
    for (int i = 0; i < m_arguments.size(); ++i) {
        const ArgumentKind kind = argumentKind(words.at(i));
        if (m_arguments.at(i) == QLatin1String("-") &&
            (kind == ArgumentKind::File || kind == ArgumentKind::Folder))
            throw ToolError::usage(
                QStringLiteral("'-' is not taken for %1: morv-card reads and writes files by name, not "
                               "standard input or output")
                    .arg(words.at(i)));
    }

    const std::initializer_list<std::pair<bool, Option>> given = {{m_json, Json},
                                                                  {m_yes, Yes},
                                                                  {m_hasName, Name},
                                                                  {m_full, Full},
                                                                  {m_parts >= 0, Parts},
                                                                  {m_noSafetyCopy, NoSafetyCopy},
                                                                  {m_hasSafetyDir, SafetyDir},
                                                                  {m_noVerify, NoVerify},
                                                                  {m_noLock, NoLock}};
    for (const auto &option : given) {
        if (option.first && !(info->options & option.second)) {
            QString name;
            for (const OptionInfo &known : options())
                if (known.bit == option.second)
                    name = QLatin1String(known.name);
            throw ToolError::usage(QStringLiteral("%1 does not take %2; %3").arg(m_command, name, usageLine));
        }
    }
    if (m_parts >= 0 && !m_full)
        throw ToolError::usage(QStringLiteral("--parts goes with --full; ") + usageLine);
    if (m_noSafetyCopy && m_hasSafetyDir)
        throw ToolError::usage(QStringLiteral("--no-safety-copy and --safety-dir exclude each other; ") +
                               usageLine);
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
