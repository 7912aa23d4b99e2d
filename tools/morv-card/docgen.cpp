// morv-card-docs: writes the manual pages of morv-card and morv-manager and the bash and zsh
// completions of morv-card into a build tree. morv-card's come from its command table, the
// window's from what `morv-manager --help` prints, so neither can say what the program does not do.
//
//   morv-card-docs BUILD_DIR MORV_MANAGER
#include "commandtable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>
#include <functional>

using namespace ZovaZode::CommandTable;

namespace {

// Text for roff: backslashes and hyphens escaped, so that options stay copyable minus signs.
QString roff(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QStringLiteral("\\&"));
    return text;
}

// One paragraph each, filled by roff.
QString paragraphs(QStringList list)
{
    for (QString &paragraph : list)
        paragraph = roff(paragraph);
    return list.join(QStringLiteral("\n.PP\n")) + QLatin1Char('\n');
}

// The date of the pages: that of SOURCE_DATE_EPOCH when it is set, so that two builds of one
// source give the same pages; else today's.
QString pageDate()
{
    bool ok = false;
    const qint64 epoch = qEnvironmentVariable("SOURCE_DATE_EPOCH").toLongLong(&ok);
    const QDateTime date =
        ok ? QDateTime::fromSecsSinceEpoch(epoch, Qt::UTC) : QDateTime::currentDateTimeUtc();
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString header(const char *name, const QString &summary)
{
    // No hyphenation: options and paths must read as typed.
    return QStringLiteral(".TH %1 1 %5 \"%2 %3\" \"User Commands\"\n.nh\n.SH NAME\n%2 \\- %4\n")
        .arg(QString::fromLatin1(name).toUpper(), QLatin1String(name), QStringLiteral(MORV_VERSION),
             roff(summary), pageDate());
}

// What morv-card reads and writes besides the files it is given, and what it reads of its
// environment.
QString filesAndEnvironment()
{
    // `term` in italics (a path) or bold (a variable).
    const auto entry = [](char font, const QString &term, const QString &text) {
        return QStringLiteral(".TP\n\\f%1%2\\fR\n%3\n")
            .arg(QString(QLatin1Char(font)), roff(term), roff(text));
    };
    return QStringLiteral(".SH FILES\n") +
           entry('I', QStringLiteral("$XDG_CONFIG_HOME/Selkanor/Morv Manager.conf"),
                 QStringLiteral(
                     "The settings of the Morv Manager window, which morv-card follows: where the card "
                     "library is, whether safety copies are made and how many are kept. "
                     "XDG_CONFIG_HOME is ~/.config unless set.")) +
           entry(
               'I', QStringLiteral("~/Documents/Morv+ Card Library/Safety Copies/"),
               QStringLiteral("The safety copies, in the card library the settings name (by default in the "
                              "Documents folder; the song library, Morv+ Song Library, lies beside it). With "
                              "--safety-dir DIR they go to DIR/Safety Copies.")) +
           entry(
               'I', QStringLiteral("NAME.XXXXXXXX.partial"),
               QStringLiteral("A new archive, song file or card while it is written, beside the name it gets "
                              "when complete. One left by a killed command is removed by the next command "
                              "that writes into its folder, which says so.")) +
           entry('I', QStringLiteral(MORV_DATA_DIR "/morv-card.schema.json"),
                 QStringLiteral("The JSON Schema of the objects --json prints.")) +
           QStringLiteral(".SH ENVIRONMENT\n") +
           entry('B', QStringLiteral("HOME, XDG_CONFIG_HOME"),
                 QStringLiteral("Where the settings are, and the file user-dirs.dirs whose XDG_DOCUMENTS_DIR "
                                "names the Documents folder that holds the libraries by default.")) +
           entry('B', QStringLiteral("TERM"),
                 QStringLiteral("dumb, or unset: the progress is printed as plain lines, never redrawn.")) +
           entry('B', QStringLiteral("COLUMNS"),
                 QStringLiteral("The width of the progress line where the terminal does not tell its own."));
}

QString cardPage()
{
    QString page =
        header("morv-card", QStringLiteral("command-line librarian for the SD card of the Morv+ pedal"));
    page += QStringLiteral(".SH SYNOPSIS\n.B morv\\-card\n.I COMMAND\n[\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]\n"
                           ".br\n.B morv\\-card help\n[\\fICOMMAND\\fR]\n");
    page += QStringLiteral(".SH DESCRIPTION\n.B morv\\-card\n") +
            roff(QStringLiteral("does from a shell what the Morv Manager window does with a card and the "
                                "two libraries, through the same code.")) +
            QStringLiteral("\n.PP\n") + paragraphs(notes());
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CommandInfo &command : commands()) {
        // Font escapes rather than .B, which would take the example's quotes as its own.
        page += QStringLiteral(".TP\n\\fB%1\\fR\n%2\n.br\nExample:\n\\fBmorv\\-card %3\\fR\n")
                    .arg(roff(synopsis(command)), roff(QLatin1String(command.description)),
                         roff(QLatin1String(command.example)));
    }
    page += QStringLiteral(".SH OPTIONS\n");
    for (const OptionInfo &option : options())
        page +=
            QStringLiteral(".TP\n\\fB%1\\fR\n%2\n").arg(roff(optionText(option)), roff(optionHelp(option)));
    page +=
        QStringLiteral(".SH EXIT STATUS\n0 success; 1 failure (for \\fBverify\\fR: problems found); 2 a "
                       "mistake on the command line; 129 stopped by SIGHUP (its terminal closed), 130 "
                       "interrupted by Ctrl\\-C, 143 by SIGTERM, after what was being written was removed "
                       "or its state was reported. A signal that was ignored when the command started, as "
                       "under \\fBnohup\\fR(1), stays ignored.\n");
    page += filesAndEnvironment();
    page += QStringLiteral(".SH SEE ALSO\n.BR morv\\-manager (1)\n");
    return page;
}

// The window's own --help: "Usage: PATH [options] [file]", its description, then "Options:"
// and "Arguments:" with one entry a line (longer texts go on indented lines below).
QString managerPage(const QString &help)
{
    QStringList lines = help.split(QLatin1Char('\n'));
    QString synopsisLine = lines.value(0);
    synopsisLine.remove(QRegularExpression(QStringLiteral("^Usage: \\S+ ?")));
    QString summary = lines.value(1).trimmed().remove(QRegularExpression(QStringLiteral("\\.$")));
    if (!summary.isEmpty())
        summary[0] = summary.at(0).toLower();
    QString page = header("morv-manager", summary);
    page += QStringLiteral(".SH SYNOPSIS\n.B morv\\-manager\n%1\n").arg(roff(synopsisLine));
    page += QStringLiteral(".SH DESCRIPTION\n.B morv\\-manager\n") +
            roff(QStringLiteral("opens the card data file of the Morv+ pedal through a card reader, backs up "
                                "and restores whole cards, keeps a library of single songs and copies them "
                                "onto any slot of a card. Its command-line sibling is morv-card.")) +
            QLatin1Char('\n');
    static const QRegularExpression entry(QStringLiteral("^  (\\S.*?)\\s{2,}(\\S.*)$"));
    for (int i = 2; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (line == QLatin1String("Options:") || line == QLatin1String("Arguments:")) {
            page += QStringLiteral(".SH %1\n").arg(line.chopped(1).toUpper());
            continue;
        }
        const QRegularExpressionMatch match = entry.match(line);
        if (match.hasMatch())
            page +=
                QStringLiteral(".TP\n\\fB%1\\fR\n%2\n").arg(roff(match.captured(1)), roff(match.captured(2)));
        else if (!line.trimmed().isEmpty())
            page += roff(line.trimmed()) + QLatin1Char('\n');
    }
    page += QStringLiteral(".SH SEE ALSO\n.BR morv\\-card (1)\n");
    return page;
}

QString slotWords(const QString &word)
{
    QString words = QStringLiteral("1 2 3 4 5 6 7 8 9 10 11 12");
    return word.contains(QLatin1String("|all")) ? words + QStringLiteral(" all") : words;
}

// How a shell completes an argument: bash's `_filedir` or zsh's `_files` for files (by their
// extension where the word names one) and folders, the slot numbers, nothing for a name.
QString completion(const QString &word, bool zsh)
{
    const QString extension = word.section(QLatin1Char('.'), 1);
    switch (argumentKind(word)) {
    case ArgumentKind::File:
        if (zsh)
            return extension.isEmpty() ? QStringLiteral("_files")
                                       : QStringLiteral("_files -g \"*.%1\"").arg(extension);
        return QStringLiteral("_filedir %1").arg(extension).trimmed();
    case ArgumentKind::Folder:
        return zsh ? QStringLiteral("_files -/") : QStringLiteral("_filedir -d");
    case ArgumentKind::Slot:
        // zsh sorts a plain list as text (1 10 11 12 2 ...): an unsorted group keeps the order.
        return zsh ? QStringLiteral("{_description -V slots expl \"%1\"; compadd \"$expl[@]\" -- %2}")
                         .arg(word, slotWords(word))
                   : QStringLiteral("COMPREPLY=($(compgen -W \"%1\" -- \"$cur\"))").arg(slotWords(word));
    case ArgumentKind::Command:
        return zsh ? QStringLiteral(" _describe -t commands \"morv-card command\" commands")
                   : QStringLiteral("COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))");
    case ArgumentKind::Text:
        break;
    }
    return zsh ? QStringLiteral(" ") : QString();
}

QString commandNames()
{
    QStringList names;
    for (const CommandInfo &command : commands())
        names << QLatin1String(command.name);
    return names.join(QLatin1Char(' '));
}

// The option names of `selected` options, joined by `separator`.
QString optionNames(const std::function<bool(const OptionInfo &)> &selected, QLatin1Char separator)
{
    QStringList names;
    for (const OptionInfo &option : options())
        if (selected(option))
            names << QLatin1String(option.name);
    return names.join(separator);
}

// The bash cases of the options whose value is a folder.
QString bashFolderCases()
{
    QString cases;
    for (const OptionInfo &option : options()) {
        if (option.value && argumentKind(QLatin1String(option.value)) == ArgumentKind::Folder)
            cases += QStringLiteral("    %1) _filedir -d; return ;;\n").arg(QLatin1String(option.name));
    }
    return cases;
}

// The bash cases that set the options each command takes, the global ones among them.
QString bashOptionCases()
{
    QString cases;
    for (const CommandInfo &command : commands()) {
        const QString names = optionNames(
            [&command](const OptionInfo &option) {
                return (option.option & (Global | command.options)) != 0;
            },
            QLatin1Char(' '));
        cases += QStringLiteral("    %1) options=\"%2\" ;;\n").arg(QLatin1String(command.name), names);
    }
    return cases;
}

// The bash cases that complete each command's arguments by their position.
QString bashArgumentCases()
{
    QString commandCases;
    for (const CommandInfo &command : commands()) {
        QString cases;
        const QStringList words = argumentWords(command);
        for (int i = 0; i < words.size(); ++i) {
            const QString action = completion(words.at(i), false);
            if (!action.isEmpty())
                cases += QStringLiteral(" %1) %2 ;;").arg(i).arg(action);
        }
        commandCases +=
            QStringLiteral("    %1) case $argument in%2 esac ;;\n").arg(QLatin1String(command.name), cases);
    }
    return commandCases;
}

QString bashCompletion()
{
    const QString valued =
        optionNames([](const OptionInfo &option) { return option.value != nullptr; }, QLatin1Char('|'));
    const QString global =
        optionNames([](const OptionInfo &option) { return option.option & Global; }, QLatin1Char(' '));
    return QStringLiteral(
               "# bash completion for morv-card; written by morv-card-docs from the tool's command table.\n"
               "_morv_card()\n{\n"
               "    local cur prev words cword\n"
               "    _init_completion || return\n"
               "    local commands=\"%1\"\n"
               "    local command= argument=0 i\n"
               "    for ((i = 1; i < cword; i++)); do\n"
               "        case ${words[i]} in\n"
               "        %2) ((i++)) ;;\n"
               "        -*) ;;\n"
               "        *) if [[ -z $command ]]; then command=${words[i]}; else ((argument++)); fi ;;\n"
               "        esac\n"
               "    done\n"
               "    case $prev in\n"
               "%5"
               "    %2) return ;;\n"
               "    esac\n"
               "    local options=\"%6\"\n"
               "    case $command in\n%3"
               "    esac\n"
               "    if [[ $cur == -* ]]; then\n"
               "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
               "        return\n"
               "    fi\n"
               "    case $command in\n"
               "    '') COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\")) ;;\n"
               "%4"
               "    esac\n"
               "} && complete -F _morv_card morv-card\n")
        .arg(commandNames(), valued, bashOptionCases(), bashArgumentCases(), bashFolderCases(), global);
}

// A description inside single quotes and the brackets of a zsh option entry.
QString zshText(QString result)
{
    if (result.endsWith(QLatin1Char('.')))
        result.chop(1);
    return result.replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        .replace(QLatin1Char('['), QStringLiteral("\\["))
        .replace(QLatin1Char(']'), QStringLiteral("\\]"));
}

QString zshCompletion()
{
    QString described;
    for (const CommandInfo &command : commands())
        described += QStringLiteral("    '%1:%2'\n")
                         .arg(QLatin1String(command.name), zshText(QLatin1String(command.summary)));
    QString cases;
    for (const CommandInfo &command : commands()) {
        QStringList entries;
        for (const OptionInfo &option : options()) {
            if (!(option.option & Global) && !(command.options & option.option))
                continue;
            QString entry =
                QStringLiteral("'%1[%2]").arg(QLatin1String(option.name), zshText(optionHelp(option)));
            if (option.value)
                entry += QStringLiteral(":%1:%2").arg(QLatin1String(option.value),
                                                      option.option == SafetyDir ? QStringLiteral("_files -/")
                                                                                 : QString());
            entries << entry + QLatin1Char('\'');
        }
        const QStringList words = argumentWords(command);
        const int required = minArguments(command);
        for (int i = 0; i < words.size(); ++i) {
            const QString &word = words.at(i);
            const QString action = completion(word, true);
            // An optional word (rename's SLOT) makes the positions after it uncertain: complete
            // only what is sure.
            if (required < words.size() && i > 0)
                break;
            entries << QStringLiteral("'%1:%2:%3'").arg(i + 1).arg(word, action);
        }
        cases += QStringLiteral("  %1)\n    _arguments \\\n      %2 ;;\n")
                     .arg(QLatin1String(command.name), entries.join(QStringLiteral(" \\\n      ")));
    }
    return QStringLiteral(
               "#compdef morv-card\n"
               "# zsh completion for morv-card; written by morv-card-docs from the tool's command table.\n"
               "local -a commands\n"
               "commands=(\n%1)\n"
               "if (( CURRENT == 2 )); then\n"
               "  _describe -t commands 'morv-card command' commands\n"
               "  return\n"
               "fi\n"
               "local command=$words[2]\n"
               "shift words\n"
               "(( CURRENT-- ))\n"
               "curcontext=\"${curcontext%:*:*}:morv-card-$command:\"\n"
               "case $command in\n"
               "%2"
               "esac\n")
        .arg(described, cases);
}

bool write(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0 ||
        !file.flush()) {
        std::fprintf(stderr, "morv-card-docs: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: morv-card-docs BUILD_DIR MORV_MANAGER\n");
        return 2;
    }
    const QDir build(arguments.at(1));

    QProcess manager;
    manager.start(arguments.at(2), {QStringLiteral("--help")});
    if (!manager.waitForFinished(60000) || manager.exitCode() != 0) {
        std::fprintf(stderr, "morv-card-docs: %s --help failed\n", qPrintable(arguments.at(2)));
        return 1;
    }
    const QString help = QString::fromLocal8Bit(manager.readAllStandardOutput());

    const bool written = write(build.filePath(QStringLiteral("man/morv-card.1")), cardPage()) &&
                         write(build.filePath(QStringLiteral("man/morv-manager.1")), managerPage(help)) &&
                         write(build.filePath(QStringLiteral("completions/morv-card")), bashCompletion()) &&
                         write(build.filePath(QStringLiteral("completions/_morv-card")), zshCompletion());
    return written ? 0 : 1;
}
