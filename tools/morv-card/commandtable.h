// The one description of morv-card's command line: its commands, their arguments and options,
// what each does and an example. The parser checks a command line against it, `help` prints it,
// and the build writes the manual page and the shell completions from it, so none of them can
// drift from what the tool accepts.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace ZovaZode {
namespace CommandTable {

// One bit per option that belongs to some commands only.
enum Option {
    Json = 1,
    Yes = 2,
    Name = 4,
    Full = 8,
    Parts = 16,
    NoSafetyCopy = 32,
    SafetyDir = 64,
    NoVerify = 128,
    NoLock = 256,
    Global = 0 // --help, --quiet, --verbose, --version: every command takes them
};

struct OptionInfo
{
    const char *name;  // "--safety-dir"
    char shortName;    // 'y', or 0
    const char *value; // "DIR", or nullptr when the option takes none
    int bit;           // its Option, Global for the options of every command
    const char *help;  // one sentence for people
};

// What a command argument names, for the completions and for refusing "-".
enum class ArgumentKind { File, Folder, Slot, Text };

struct CommandInfo
{
    const char *name;
    const char *arguments; // "CARD [SLOT] NAME": words in brackets may be left out
    int options;           // the Options it takes
    const char *summary;   // one line
    const char *description;
    const char *example; // a command line, without "morv-card "
};

const QVector<CommandInfo> &commands();
const QVector<OptionInfo> &options();
const CommandInfo *findCommand(const QString &name);
const OptionInfo *findOption(const QString &name);

// The arguments of `command` as typed words, brackets removed ("SLOT|all"); with `given`, the words
// that many arguments stand for (optional words left out first).
QStringList argumentWords(const CommandInfo &command, int given = -1);
int minArguments(const CommandInfo &command);
int maxArguments(const CommandInfo &command);
ArgumentKind argumentKind(const QString &word);
// "--name NAME", "-y, --yes".
QString optionText(const OptionInfo &option);

// "archive CARD OUT.mlad [--name NAME] [--no-verify] [--json]".
QString synopsis(const CommandInfo &command);
// `morv-card help COMMAND`: usage, what it does, its options, an example.
QString commandHelp(const CommandInfo &command);
// `morv-card --help`: the commands with their summaries, then the notes.
QString usage();
// What holds for every command: slots, confirmation, safety copies, verification, exit status.
QString notes();

} // namespace CommandTable
} // namespace ZovaZode
