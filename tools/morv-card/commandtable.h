// The one description of morv-card's command line: its commands, each with its arguments, its
// options and the function that runs it, and the options with their values, ranges and conflicts.
// The parser reads a command line through it, `help` prints it, and the build writes the manual
// page and the shell completions from it, so none of them can drift from what the tool accepts.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace ZovaZode {

class CardTool;

namespace CommandTable {

// One bit per option.
enum Option {
    Help = 1 << 0,
    Version = 1 << 1,
    Quiet = 1 << 2,
    Verbose = 1 << 3,
    Json = 1 << 4,
    Yes = 1 << 5,
    Name = 1 << 6,
    Full = 1 << 7,
    Parts = 1 << 8,
    NoSafetyCopy = 1 << 9,
    SafetyDir = 1 << 10,
    NoVerify = 1 << 11,
    NoLock = 1 << 12,
    WriteAll = 1 << 13,
    Force = 1 << 14,
    All = 1 << 15,
};
// What every command takes besides its own options.
constexpr int Global = Help | Version | Quiet | Verbose;

struct OptionInfo
{
    const char *name;  // "--safety-dir"
    char shortName;    // 'y', or 0
    const char *value; // "DIR", or nullptr when the option takes none
    Option option;
    const char *help; // one sentence for people
    // A value that is a number: its range; both 0 for any text but an empty one.
    int minimum;
    int maximum;
    int requires; // the options it only goes with
    int excludes; // the options it cannot be given with
};

// What a command argument names, for the completions and for refusing "-".
enum class ArgumentKind { File, Folder, Slot, Text, Command };

struct CommandInfo
{
    const char *name;
    const char *arguments; // "CARD [SLOT] NAME": words in brackets may be left out
    int options;           // the Options it takes besides the Global ones
    const char *summary;   // one line
    const char *description;
    const char *example; // a command line, without "morv-card "
    int (CardTool::*run)();
};

// The width help and usage are wrapped to.
constexpr int kHelpWidth = 80;

const QVector<CommandInfo> &commands();
const QVector<OptionInfo> &options();
const CommandInfo *findCommand(const QString &name);
// By "--name" or by the short letter.
const OptionInfo *findOption(const QString &name);
const OptionInfo *findOption(QChar shortName);
const OptionInfo &optionInfo(Option option);

// The arguments of `command` as typed words, brackets removed ("SLOT|all"); with `given`, the words
// that many arguments stand for (optional words left out first).
QStringList argumentWords(const CommandInfo &command, int given = -1);
int minArguments(const CommandInfo &command);
int maxArguments(const CommandInfo &command);
ArgumentKind argumentKind(const QString &word);
// "--name NAME", "-y, --yes".
QString optionText(const OptionInfo &option);
// The help sentence, with the range of a number.
QString optionHelp(const OptionInfo &option);

// "archive CARD OUT.mlad [--name NAME] [--no-verify] [--json]".
QString synopsis(const CommandInfo &command);
// "usage: morv-card " and the synopsis, wrapped.
QString usageLine(const CommandInfo &command);
// `morv-card help COMMAND`: usage, what it does, its options, an example.
QString commandHelp(const CommandInfo &command);
// `morv-card --help`: the commands with their summaries, then the notes.
QString usage();
// What holds for every command (slots, confirmation, safety copies, verification, exit status),
// one paragraph an entry.
QStringList notes();

// `words` joined by spaces into lines of at most `width` columns, each line after the first
// started with `indent` spaces; a word longer than a line stands alone.
QString wrapped(const QStringList &words, int indent, int width = kHelpWidth);

} // namespace CommandTable
} // namespace ZovaZode
