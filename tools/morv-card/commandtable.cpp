// CommandTable: the commands and options of morv-card, and the help texts made of them.
#include "commandtable.h"

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
     "info /media/$USER/ZOVAZODE/ZOVAZODE.DAT"},
    {"verify", "FILE", Json, "check every record of a card or an archive",
     "Checks every record of a card data file or an archive and lists each problem with where it "
     "is. Exits with 1 when it found any.",
     "verify \"Gig 2026.mlad\""},
    {"archive", "CARD OUT.mlad", Name | NoVerify | Json, "back up the whole card",
     "Archives the whole card into a new card archive, named after the card unless --name is "
     "given. An existing file is never replaced.",
     "archive /media/$USER/ZOVAZODE/ZOVAZODE.DAT \"Gig 2026.mlad\" --name \"Gig 2026\""},
    {"restore", "ARCHIVE.mlad CARD", kSafety | NoVerify, "overwrite the whole card with an archive",
     "Overwrites the whole card, its user prefs and all twelve songs, with a card archive.",
     "restore \"Gig 2026.mlad\" /media/$USER/ZOVAZODE/ZOVAZODE.DAT --yes"},
    {"export-song", "CARD SLOT OUT.mlsd", Name | NoVerify | Json, "copy one song to a song file",
     "Copies the song in SLOT to a new song file, named after the song unless --name is given. "
     "An existing file is never replaced.",
     "export-song /media/$USER/ZOVAZODE/ZOVAZODE.DAT 3 blues.mlsd"},
    {"import-song", "SONG.mlsd CARD SLOT", kSafety | NoVerify, "copy a song file onto a slot",
     "Copies a song file onto SLOT of the card, overwriting the song there.",
     "import-song blues.mlsd /media/$USER/ZOVAZODE/ZOVAZODE.DAT 7"},
    {"rename", "CARD [SLOT] NAME", NoLock, "rename the card or a song",
     "Renames the card, or the song in SLOT, under the name rules of the window: at most 128 "
     "bytes, no punctuation such as / : ? * ( ).",
     "rename /media/$USER/ZOVAZODE/ZOVAZODE.DAT 2 \"Waltz Live\""},
    {"clear", "CARD SLOT|all", kSafety, "clear a song, or all of them",
     "Clears the song in SLOT, or every song, leaving the default name (\"Song 01\" ...).",
     "clear /media/$USER/ZOVAZODE/ZOVAZODE.DAT 5"},
    {"make-demo", "DIR", Full | Parts, "write a demo card",
     "Writes DIR/ZOVAZODE.DAT, a demo card to try the programs without a pedal. It takes little "
     "room on the disk: the card file is sparse.",
     "make-demo ~/morv-demo"},
};

const QVector<OptionInfo> kOptions = {
    {"--help", 'h', nullptr, Global, "Print the help of the tool, or of the command, and exit."},
    {"--version", 0, nullptr, Global, "Print the version and exit."},
    {"--quiet", 'q', nullptr, Global, "Print no progress bar and no message of success."},
    {"--verbose", 'v', nullptr, Global,
     "Print the program's log on standard error, and the card data library's own function names "
     "in errors."},
    {"--yes", 'y', nullptr, Yes,
     "Overwrite card data without asking; needed when standard input is not a terminal."},
    {"--name", 0, "NAME", Name,
     "Give the new archive or song file this name instead of the card's or song's."},
    {"--no-safety-copy", 0, nullptr, NoSafetyCopy, "Make no safety copy of what is overwritten."},
    {"--safety-dir", 0, "DIR", SafetyDir,
     "Keep the safety copy in \"DIR/Safety Copies\" instead of the card library's."},
    {"--no-verify", 0, nullptr, NoVerify, "Do not read back and check what was written."},
    {"--no-lock", 0, nullptr, NoLock,
     "Write the card even where its file system cannot lock it (some network and FUSE file systems); "
     "no other program may use the card meanwhile."},
    {"--full", 0, nullptr, Full, "Fill every looper part of the demo card with the longest recording."},
    {"--parts", 0, "N", Parts, "With --full: fill only the first N looper parts (1 to 60)."},
    {"--json", 0, nullptr, Json, "Print the result, or the error, as one JSON object with \"schema\": 1."},
};

QString bare(QString word)
{
    return word.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
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
    for (const OptionInfo &option : kOptions) {
        if (name == QLatin1String(option.name) ||
            (option.shortName && name.size() == 2 && name.at(0) == QLatin1Char('-') &&
             name.at(1) == QLatin1Char(option.shortName)))
            return &option;
    }
    return nullptr;
}

QStringList argumentWords(const CommandInfo &command, int given)
{
    QStringList words = QString::fromLatin1(command.arguments).split(QLatin1Char(' '));
    for (int i = words.size() - 1; i >= 0 && given >= 0 && words.size() > given; --i) {
        if (words.at(i).startsWith(QLatin1Char('[')))
            words.removeAt(i);
    }
    for (QString &word : words)
        word = bare(word);
    return words;
}

int minArguments(const CommandInfo &command)
{
    int count = 0;
    for (const QString &word : QString::fromLatin1(command.arguments).split(QLatin1Char(' ')))
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
    return ArgumentKind::File;
}

QString optionText(const OptionInfo &option)
{
    QString text = QLatin1String(option.name);
    if (option.shortName)
        text = QStringLiteral("-%1, ").arg(QLatin1Char(option.shortName)) + text;
    if (option.value)
        text += QLatin1Char(' ') + QLatin1String(option.value);
    return text;
}

QString synopsis(const CommandInfo &command)
{
    QString text = QLatin1String(command.name) + QLatin1Char(' ') + QLatin1String(command.arguments);
    // The two ways of handling the safety copy exclude each other.
    bool safetyShown = false;
    for (const OptionInfo &option : kOptions) {
        if (!(command.options & option.bit))
            continue;
        if (option.bit == NoSafetyCopy || option.bit == SafetyDir) {
            if (!safetyShown)
                text += QStringLiteral(" [--no-safety-copy | --safety-dir DIR]");
            safetyShown = true;
        } else if (option.bit == Parts) {
            text.chop(1);
            text += QStringLiteral(" [--parts N]]");
        } else {
            text += QStringLiteral(" [") + QLatin1String(option.name) +
                    (option.value ? QLatin1Char(' ') + QLatin1String(option.value) : QString()) +
                    QLatin1Char(']');
        }
    }
    return text;
}

QString commandHelp(const CommandInfo &command)
{
    QString text = QStringLiteral("usage: morv-card ") + synopsis(command) + QStringLiteral("\n\n") +
                   QLatin1String(command.description) + QStringLiteral("\n\noptions:\n");
    for (const OptionInfo &option : kOptions) {
        if (option.bit == Global || (command.options & option.bit))
            text += QStringLiteral("  %1  %2\n").arg(optionText(option), -22).arg(QLatin1String(option.help));
    }
    return text + QStringLiteral("\nexample:\n  morv-card ") + QLatin1String(command.example) +
           QLatin1Char('\n');
}

QString usage()
{
    QString text =
        QStringLiteral("usage: morv-card COMMAND [ARGUMENTS] [OPTIONS]\n       morv-card help COMMAND\n\n"
                       "commands:\n");
    for (const CommandInfo &command : kCommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.name), -12)
                    .arg(QLatin1String(command.summary));
    return text + QLatin1Char('\n') + notes();
}

QString notes()
{
    return QStringLiteral(
        "Song slots are numbered 1 to 12. Commands that overwrite card data ask on a terminal and\n"
        "otherwise need --yes. Before they do, they save what they overwrite in the \"Safety Copies\"\n"
        "folder of the card library (--safety-dir DIR uses DIR as the library, --no-safety-copy\n"
        "makes none). What archives, restores and song copies write is read back and checked unless\n"
        "--no-verify is given. A command that writes the card locks it; where the card's file system\n"
        "cannot lock it, the command refuses unless --no-lock is given.\n"
        "'morv-card help COMMAND' shows a command's arguments and options.\n"
        "Exit status: 0 success, 1 failure (for verify: problems found), 2 usage error,\n"
        "130 interrupted (Ctrl-C), 143 terminated (SIGTERM).\n");
}

} // namespace CommandTable
} // namespace ZovaZode
