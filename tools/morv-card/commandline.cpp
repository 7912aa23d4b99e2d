// CommandLine: parsing and checking the arguments of morv-card.
#include "commandline.h"

#include "toolerror.h"

#include <initializer_list>

namespace ZovaZode {

namespace {

enum Option {
    Json = 1,
    Yes = 2,
    Name = 4,
    Full = 8,
    Parts = 16,
    NoSafetyCopy = 32,
    SafetyDir = 64,
    NoVerify = 128
};

// What the commands that overwrite card data take besides their own options.
constexpr int kSafety = NoSafetyCopy | SafetyDir;

struct CommandInfo
{
    const char *name;
    int minArguments;
    int maxArguments;
    int options;
    const char *synopsis;
};

const CommandInfo kCommands[] = {
    {"info", 1, 1, Json, "info FILE [--json]"},
    {"archive", 2, 2, Name | NoVerify | Json, "archive CARD OUT.mlad [--name NAME] [--no-verify] [--json]"},
    {"restore", 2, 2, Yes | kSafety | NoVerify,
     "restore ARCHIVE.mlad CARD [--yes] [--no-safety-copy | --safety-dir DIR] [--no-verify]"},
    {"export-song", 3, 3, Name | NoVerify | Json,
     "export-song CARD SLOT OUT.mlsd [--name NAME] [--no-verify] [--json]"},
    {"import-song", 3, 3, Yes | kSafety | NoVerify,
     "import-song SONG.mlsd CARD SLOT [--yes] [--no-safety-copy | --safety-dir DIR] [--no-verify]"},
    {"rename", 2, 3, 0, "rename CARD [SLOT] NAME"},
    {"clear", 2, 2, Yes | kSafety, "clear CARD SLOT|all [--yes] [--no-safety-copy | --safety-dir DIR]"},
    {"verify", 1, 1, Json, "verify FILE [--json]"},
    {"make-demo", 1, 1, Full | Parts, "make-demo DIR [--full [--parts N]]"},
};

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &info : kCommands)
        if (name == QLatin1String(info.name))
            return &info;
    return nullptr;
}

QString optionName(Option option)
{
    switch (option) {
    case Json:
        return QStringLiteral("--json");
    case Yes:
        return QStringLiteral("--yes");
    case Name:
        return QStringLiteral("--name");
    case Full:
        return QStringLiteral("--full");
    case Parts:
        return QStringLiteral("--parts");
    case NoSafetyCopy:
        return QStringLiteral("--no-safety-copy");
    case SafetyDir:
        return QStringLiteral("--safety-dir");
    case NoVerify:
        return QStringLiteral("--no-verify");
    }
    return QString();
}

} // namespace

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

    if (line.m_help && words.isEmpty())
        return line;
    if (words.isEmpty())
        throw ToolError::usage(QStringLiteral("no command given"));
    line.m_command = words.takeFirst();
    line.m_arguments = words;
    if (!line.m_help)
        line.check();
    return line;
}

void CommandLine::check() const
{
    const CommandInfo *info = findCommand(m_command);
    if (!info)
        throw ToolError::usage(QStringLiteral("unknown command '%1'").arg(m_command));
    const QString synopsis = QStringLiteral("usage: morv-card ") + QLatin1String(info->synopsis);
    if (m_arguments.size() < info->minArguments || m_arguments.size() > info->maxArguments)
        throw ToolError::usage(synopsis);

    const std::initializer_list<std::pair<bool, Option>> given = {{m_json, Json},
                                                                  {m_yes, Yes},
                                                                  {m_hasName, Name},
                                                                  {m_full, Full},
                                                                  {m_parts >= 0, Parts},
                                                                  {m_noSafetyCopy, NoSafetyCopy},
                                                                  {m_hasSafetyDir, SafetyDir},
                                                                  {m_noVerify, NoVerify}};
    for (const auto &option : given) {
        if (option.first && !(info->options & option.second))
            throw ToolError::usage(QStringLiteral("%1 does not take %2; %3")
                                       .arg(m_command, optionName(option.second), synopsis));
    }
    if (m_parts >= 0 && !m_full)
        throw ToolError::usage(QStringLiteral("--parts goes with --full; ") + synopsis);
    if (m_noSafetyCopy && m_hasSafetyDir)
        throw ToolError::usage(QStringLiteral("--no-safety-copy and --safety-dir exclude each other; ") +
                               synopsis);
}

int CommandLine::songNumber(const QString &slot)
{
    bool ok = false;
    const int number = slot.toInt(&ok);
    if (!ok || number < 1 || number > 12)
        throw ToolError::usage(QStringLiteral("bad slot '%1': song slots are numbered 1 to 12").arg(slot));
    return number - 1;
}

QString CommandLine::usage()
{
    QString text =
        QStringLiteral("usage: morv-card COMMAND [ARGUMENTS] [--quiet] [--verbose]\n\ncommands:\n");
    for (const CommandInfo &info : kCommands)
        text += QStringLiteral("  morv-card ") + QLatin1String(info.synopsis) + QLatin1Char('\n');
    text += QStringLiteral(
        "\nSong slots are numbered 1 to 12. Commands that overwrite card data ask on a terminal and\n"
        "otherwise need --yes. Before they do, they save what they overwrite in the \"Safety Copies\"\n"
        "folder of the card library (--safety-dir DIR uses DIR as the library, --no-safety-copy\n"
        "makes none). What archives, restores and song copies write is read back from the disk or\n"
        "card and checked unless --no-verify is given; Ctrl-C while it is read back keeps the result\n"
        "unchecked. --quiet hides the progress bar, --verbose shows the log.\n"
        "Exit status: 0 success, 1 failure (for verify: problems found), 2 usage error.\n");
    return text;
}

} // namespace ZovaZode
