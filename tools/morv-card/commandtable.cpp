// CommandTable: the commands and options of morv-card, and the help texts made of them.
#include "commandtable.h"

#include "cardtool.h"

namespace ZovaZode {
namespace CommandTable {

namespace {

// What the commands that overwrite card data take besides their own options.
constexpr int kSafety = Yes | NoSafetyCopy | SafetyDir | NoLock;

const QVector<CommandInfo> kCommands = {
    {"info", "FILE", Json, "show a card, a card archive or a song file",
     "Shows the name, the description and the songs of a card data file, a card archive (.mlad) "
     "or a song file (.mlsd): for each song its slot, the states of its five parts, the length "
     "of its part sequence and its name.",
     "info /media/$USER/ZOVAZODE/ZOVAZODE.DAT", &CardTool::info},
    {"verify", "FILE", All | Json, "check every record of a card or an archive",
     "Checks every record of a card data file or an archive and lists each problem with where it "
     "is. An archive is also compared with the record of how it was made, kept beside it "
     "(ARCHIVE.sum): a file that has changed since is a problem of each song it touched. With "
     "--all, FILE is a library folder: every archive in it and its sub-folders is checked, one "
     "line each. Exits with 1 when it found any problem.",
     "verify --all \"$HOME/Documents/Morv+ Card Library\"", &CardTool::verify},
    {"archive", "CARD OUT.mlad", Name | NoVerify | Json, "back up the whole card",
     "Archives the whole card into a new card archive, named after the card unless --name is "
     "given. An existing file is never replaced.",
     "archive /media/$USER/ZOVAZODE/ZOVAZODE.DAT gig.mlad --name \"Gig 26\"", &CardTool::archive},
    {"restore", "ARCHIVE.mlad CARD", kSafety | NoVerify | WriteAll | Force | Json,
     "overwrite the whole card with an archive",
     "Overwrites the whole card, its user prefs and all twelve songs, with a card archive. Only "
     "what the card does not hold already is written; an archive that has changed since it was "
     "made is refused unless --force is given.",
     "restore \"Gig 2026.mlad\" /media/$USER/ZOVAZODE/ZOVAZODE.DAT --yes", &CardTool::restore},
    {"export-song", "CARD SLOT OUT.mlsd", Name | NoVerify | Json, "copy one song to a song file",
     "Copies the song in SLOT to a new song file, named after the song unless --name is given. "
     "An existing file is never replaced.",
     "export-song /media/$USER/ZOVAZODE/ZOVAZODE.DAT 3 blues.mlsd", &CardTool::exportSong},
    {"import-song", "SONG.mlsd CARD SLOT", kSafety | NoVerify | WriteAll | Force | Json,
     "copy a song file onto a slot",
     "Copies a song file onto SLOT of the card, overwriting the song there, as restore does.",
     "import-song blues.mlsd /media/$USER/ZOVAZODE/ZOVAZODE.DAT 7", &CardTool::importSong},
    {"rename", "CARD [SLOT] NAME", NoLock | Json, "rename the card or a song",
     "Renames the card, or the song in SLOT, under the name rules of the window: at most 128 "
     "bytes, no punctuation such as / : ? * ( ).",
     "rename /media/$USER/ZOVAZODE/ZOVAZODE.DAT 2 \"Waltz Live\"", &CardTool::rename},
    {"clear", "CARD SLOT|all", kSafety | Json, "clear a song, or all of them",
     "Clears the song in SLOT, or every song, leaving the default name (\"Song 01\" ...).",
     "clear /media/$USER/ZOVAZODE/ZOVAZODE.DAT 5", &CardTool::clear},
    {"make-demo", "DIR", Full | Parts | Json, "write a demo card",
     "Writes DIR/ZOVAZODE.DAT, a demo card to try the programs without a pedal. It takes little "
     "room on the disk: the card file is sparse.",
     "make-demo ~/morv-demo", &CardTool::makeDemo},
    {"help", "[COMMAND]", 0, "show the help of the tool or of a command",
     "Shows what COMMAND takes and does, with an example; without COMMAND, the commands and what "
     "holds for all of them. 'morv-card COMMAND --help' does the same.",
     "help restore", &CardTool::help},
};

const QVector<OptionInfo> kOptions = {
    // clang-format off
    //  name               short value   option         help                                                               range  requires excludes
    {"--help",           'h', nullptr, Help,         "Print the help of the tool, or of the command, and exit.",          0, 0,  0,    0},
    {"--version",        0,   nullptr, Version,      "Print the version and exit.",                                       0, 0,  0,    0},
    {"--quiet",          'q', nullptr, Quiet,        "Print no progress bar and no message of success.",                  0, 0,  0,    0},
    {"--verbose",        'v', nullptr, Verbose,      "Print the program's log on standard error, and the card data "
                                                     "library's own function names in errors.",                           0, 0,  0,    0},
    {"--yes",            'y', nullptr, Yes,          "Overwrite card data without asking; needed when standard input "
                                                     "is not a terminal.",                                                0, 0,  0,    0},
    {"--name",           0,   "NAME",  Name,         "Give the new archive or song file this name instead of the "
                                                     "card's or song's.",                                                 0, 0,  0,    0},
    {"--no-safety-copy", 0,   nullptr, NoSafetyCopy, "Make no safety copy of what is overwritten.",                       0, 0,  0,    SafetyDir},
    {"--safety-dir",     0,   "DIR",   SafetyDir,    "Keep the safety copy in \"DIR/Safety Copies\" instead of the "
                                                     "card library's.",                                                   0, 0,  0,    NoSafetyCopy},
    {"--no-verify",      0,   nullptr, NoVerify,     "Do not read back and check what was written.",                      0, 0,  0,    0},
    {"--no-lock",        0,   nullptr, NoLock,       "Write the card even where its file system cannot lock it (some "
                                                     "network and FUSE file systems); no other program may use the "
                                                     "card meanwhile.",                                                   0, 0,  0,    0},
    {"--write-all",      0,   nullptr, WriteAll,     "Write every byte, also where the card already holds it (as the "
                                                     "setting of the window does).",                                      0, 0,  0,    0},
    {"--force",          0,   nullptr, Force,        "Restore an archive that has changed since it was made.",            0, 0,  0,    0},
    {"--all",            0,   nullptr, All,          "Check every archive in the folder FILE and its sub-folders.",       0, 0,  0,    0},
    {"--full",           0,   nullptr, Full,         "Fill every looper part of the demo card with the longest "
                                                     "recording.",                                                        0, 0,  0,    0},
    {"--parts",          0,   "N",     Parts,        "With --full: fill only the first N looper parts.",                  1, 60, Full, 0},
    {"--json",           0,   nullptr, Json,         "Print the result, or the error, as one JSON object with "
                                                     "\"schema\": 1.",                                                    0, 0,  0,    0},
    // clang-format on
};

QString bare(QString word)
{
    return word.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
}

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString form(const OptionInfo &option)
{
    return QLatin1String(option.name) +
           (option.value ? QLatin1Char(' ') + QLatin1String(option.value) : QString());
}

bool takes(const CommandInfo &command, const OptionInfo &option)
{
    return command.options & option.option;
}

// The command and its arguments, then one word for each option or group of options: those that
// exclude each other as alternatives, one that goes only with another inside that one's brackets.
QStringList synopsisWords(const CommandInfo &command)
{
    QStringList result = QStringList{QLatin1String(command.name)} + words(command.arguments);
    int shown = 0;
    for (const OptionInfo &option : kOptions) {
        if (!takes(command, option) || (shown & option.option) || (command.options & option.requires))
            continue;
        QString group = form(option);
        shown |= option.option;
        for (const OptionInfo &other : kOptions) {
            if (takes(command, other) && !(shown & other.option) && (option.excludes & other.option)) {
                group += QStringLiteral(" | ") + form(other);
                shown |= other.option;
            }
        }
        for (const OptionInfo &other : kOptions) {
            if (takes(command, other) && (other.requires & option.option)) {
                group += QStringLiteral(" [") + form(other) + QLatin1Char(']');
                shown |= other.option;
            }
        }
        result << QLatin1Char('[') + group + QLatin1Char(']');
    }
    return result;
}

} // namespace

const QVector<CommandInfo> &commands()
{
    return kCommands;
}

const QVector<OptionInfo> &options()
{
    return kOptions;
}

const CommandInfo *findCommand(const QString &name)
{
    for (const CommandInfo &command : kCommands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

const OptionInfo *findOption(const QString &name)
{
    for (const OptionInfo &option : kOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

const OptionInfo *findOption(QChar shortName)
{
    for (const OptionInfo &option : kOptions)
        if (option.shortName && shortName == QLatin1Char(option.shortName))
            return &option;
    return nullptr;
}

const OptionInfo &optionInfo(Option option)
{
    for (const OptionInfo &info : kOptions)
        if (info.option == option)
            return info;
    Q_UNREACHABLE();
}

QStringList argumentWords(const CommandInfo &command, int given)
{
    QStringList list = words(command.arguments);
    for (int i = list.size() - 1; i >= 0 && given >= 0 && list.size() > given; --i) {
        if (list.at(i).startsWith(QLatin1Char('[')))
            list.removeAt(i);
    }
    for (QString &word : list)
        word = bare(word);
    return list;
}

int minArguments(const CommandInfo &command)
{
    int count = 0;
    for (const QString &word : words(command.arguments))
        count += word.startsWith(QLatin1Char('[')) ? 0 : 1;
    return count;
}

int maxArguments(const CommandInfo &command)
{
    return argumentWords(command).size();
}

ArgumentKind argumentKind(const QString &word)
{
    if (word.startsWith(QLatin1String("SLOT")))
        return ArgumentKind::Slot;
    if (word == QLatin1String("NAME"))
        return ArgumentKind::Text;
    if (word == QLatin1String("DIR"))
        return ArgumentKind::Folder;
    if (word == QLatin1String("COMMAND"))
        return ArgumentKind::Command;
    return ArgumentKind::File;
}

QString optionText(const OptionInfo &option)
{
    const QString text = form(option);
    return option.shortName ? QStringLiteral("-%1, ").arg(QLatin1Char(option.shortName)) + text : text;
}

QString optionHelp(const OptionInfo &option)
{
    QString help = QLatin1String(option.help);
    if (option.minimum < option.maximum)
        help.insert(help.size() - 1, QStringLiteral(" (%1 to %2)").arg(option.minimum).arg(option.maximum));
    return help;
}

QString synopsis(const CommandInfo &command)
{
    return synopsisWords(command).join(QLatin1Char(' '));
}

QString usageLine(const CommandInfo &command)
{
    const QString start = QStringLiteral("usage: morv-card ");
    return start + wrapped(synopsisWords(command), start.size());
}

QString commandHelp(const CommandInfo &command)
{
    constexpr int kOptionColumn = 26;
    QString text = usageLine(command) + QStringLiteral("\n\n") + wrapped(words(command.description), 0) +
                   QStringLiteral("\n\noptions:\n");
    for (const OptionInfo &option : kOptions) {
        if ((option.option & Global) || takes(command, option))
            text += QString(QStringLiteral("  ") + optionText(option)).leftJustified(kOptionColumn - 1) +
                    QLatin1Char(' ') + wrapped(optionHelp(option).split(QLatin1Char(' ')), kOptionColumn) +
                    QLatin1Char('\n');
    }
    return text + QStringLiteral("\nexample:\n  morv-card ") + QLatin1String(command.example) +
           QLatin1Char('\n');
}

QString usage()
{
    QString text = QStringLiteral("usage: morv-card COMMAND [ARGUMENTS] [OPTIONS]\n"
                                  "       morv-card help [COMMAND]\n\ncommands:\n");
    for (const CommandInfo &command : kCommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.name), -12)
                    .arg(QLatin1String(command.summary));
    text += QLatin1Char('\n');
    for (const QString &paragraph : notes())
        text += wrapped(paragraph.split(QLatin1Char(' ')), 0) + QLatin1Char('\n');
    return text;
}

QStringList notes()
{
    return {QStringLiteral(
                "Song slots are numbered 1 to 12. Commands that overwrite card data ask on a terminal and "
                "otherwise need --yes. Before they do, they save what they overwrite in the \"Safety "
                "Copies\" folder of the card library (--safety-dir DIR uses DIR as the library, "
                "--no-safety-copy makes none). What archives, restores and song copies write is read back "
                "and checked unless --no-verify is given. A command that writes the card locks it; where "
                "the card's file system cannot lock it, the command refuses unless --no-lock is given."),
            QStringLiteral("'morv-card help COMMAND' shows a command's arguments and options."),
            QStringLiteral("Exit status: 0 success, 1 failure (for verify: problems found), 2 usage error, "
                           "129 hung up (the terminal closed), 130 interrupted (Ctrl-C), 143 terminated "
                           "(SIGTERM).")};
}

QString wrapped(const QStringList &words, int indent, int width)
{
    QString text;
    int column = indent;
    for (const QString &word : words) {
        if (column > indent && column + 1 + word.size() > width) {
            text += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (column > indent) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += word;
        column += word.size();
    }
    return text;
}

} // namespace CommandTable
} // namespace ZovaZode
