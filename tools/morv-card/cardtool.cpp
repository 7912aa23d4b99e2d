// CardTool: the commands of morv-card that read a file or change the card in place (info, verify,
// rename, clear, make-demo), and what all commands share: confirmation, progress and messages.
#include "cardtool.h"

#include "domain/defaultnames.h"
#include "domain/democard.h"
#include "domain/filecheck.h"
#include "domain/filekinds.h"
#include "domain/filenamecodec.h"
#include "domain/interruptwatcher.h"
#include "domain/sdcard.h"
#include "domain/sizetext.h"
#include "filesummary.h"
#include "inputfile.h"
#include "progressbar.h"
#include "toolerror.h"
#include "tooloutput.h"
#include "transferrunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QMap>
#include <QVector>

#include <cstdio>
#include <unistd.h>

namespace ZovaZode {

using namespace InputFile;
using namespace ToolOutput;
using Endpoint = SongTransfer::Endpoint;

CardTool::CardTool(const CommandLine &line, SettingsSource settings)
    : m_line(line), m_settings(std::move(settings))
{}

CardTool::~CardTool() = default;

int CardTool::run()
{
    CardLock::setWritingWithoutLock(m_line.has(CommandTable::NoLock));
    report(QStringLiteral("command"), m_line.commandName());
    try {
        return (this->*m_line.command()->run)();
    } catch (ToolError &error) {
        error.setDetails(m_report);
        throw;
    } catch (const std::exception &error) {
        ToolError failure(QString::fromLocal8Bit(error.what()));
        failure.setDetails(m_report);
        throw failure;
    }
}

int CardTool::help()
{
    const QString name = m_line.argument(0);
    const CommandTable::CommandInfo *command = CommandTable::findCommand(name);
    if (!name.isEmpty() && !command)
        throw ToolError::usage(QStringLiteral("unknown command '%1'; see 'morv-card --help'").arg(name));
    writeOut((command ? CommandTable::commandHelp(*command) : CommandTable::usage()).toUtf8());
    return ExitSuccess;
}

bool CardTool::showProgress() const
{
    return !m_line.has(CommandTable::Quiet) && ProgressBar::stderrIsTerminal();
}

void CardTool::say(const QString &text) const
{
    if (!m_line.has(CommandTable::Quiet) && !m_line.has(CommandTable::Json))
        writeOut(printable(text).toUtf8() + '\n');
}

void CardTool::conclude(const QString &sentence) const
{
    if (m_line.has(CommandTable::Json))
        writeJson(m_report);
    else
        say(sentence);
}

void CardTool::confirm(const QString &question) const
{
    if (m_line.has(CommandTable::Yes))
        return;
    if (::isatty(STDIN_FILENO) != 1)
        throw ToolError::usage(
            QStringLiteral("%1 overwrites card data: confirm with --yes when standard input is "
                           "not a terminal")
                .arg(m_line.commandName()));
    const QByteArray prompt = printable(question).toUtf8() + " [y/N] ";
    std::fwrite(prompt.constData(), 1, size_t(prompt.size()), stderr);
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin) || (answer[0] != 'y' && answer[0] != 'Y'))
        throw ToolError(QStringLiteral("cancelled; nothing was changed"));
}

int CardTool::info()
{
    report(QStringLiteral("file"), m_line.argument(0));
    const FileSummary summary = FileSummary::read(m_line.argument(0));
    if (m_line.has(CommandTable::Json))
        writeJson(merged(m_report, summary.toJson()));
    else
        writeOut(summary.toText().toUtf8());
    return ExitSuccess;
}

int CardTool::rename()
{
    const bool isSong = m_line.arguments().size() == 3;
    const QString cardPath = m_line.argument(0);
    const int song = isSong ? CommandLine::songNumber(m_line.argument(1)) : -1;
    const QString name = CommandLine::checkedName(m_line.argument(isSong ? 2 : 1));

    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("slot"), isSong ? QJsonValue(song + 1) : QJsonValue());
    report(QStringLiteral("name"), name);
    requireReadable(cardPath, Role::Card);
    // Locked before the card is read, so that the header written back is the one on the card.
    const auto lock = lockCard(cardPath, CardLock::Exclusive);
    const auto card = openCard(cardPath, true);
    try {
        if (isSong) {
            SongInfo info = card->songInfo(song);
            report(QStringLiteral("old_name"), info.name);
            info.name = name;
            card->setSongInfo(song, info);
        } else {
            report(QStringLiteral("old_name"), card->name());
            card->setName(name);
        }
        // Closing writes the header and reports a failure, which the destructor could only log.
        card->close();
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("renaming failed: %1").arg(libraryText(error.what())));
    }
    conclude(isSong ? QStringLiteral("Renamed song %1 to %2.").arg(song + 1).arg(quoted(name))
                    : QStringLiteral("Renamed the card to %1.").arg(quoted(name)));
    return ExitSuccess;
}

int CardTool::clear()
{
    const QString cardPath = m_line.argument(0);
    const bool all = m_line.argument(1) == QLatin1String("all");
    const int only = all ? -1 : CommandLine::songNumber(m_line.argument(1));
    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("safety_copy"), QJsonValue());
    const CardCommands::Target target = confirmClear(cardPath, only);

    // One lock from the check to the last song cleared, over the safety copy on the worker.
    const std::shared_ptr<CardLock> lock = lockForCommand(cardPath);
    const CardLock::Use use(lock);
    // A song whose records the clear would refuse is found before the copy is made: alone, it
    // is refused with nothing changed; among all, the others are cleared.
    ClearedSongs songs{all ? 0 : only, all ? SdCard::songCount() - 1 : only, {}};
    const QVector<int> clearable = clearableSongs(cardPath, songs);
    const QString sentence =
        all ? QStringLiteral("Cleared all songs.") : QStringLiteral("Cleared song %1.").arg(only + 1);
    if (clearable.isEmpty())
        return concludeClear(songs, sentence);

    {
        TransferRunner runner(showProgress());
        runner.holdCard(lock);
        protect(runner, target);
    }
    clearSongs(cardPath, clearable, songs);
    return concludeClear(songs, sentence);
}

CardCommands::Target CardTool::confirmClear(const QString &cardPath, int only) const
{
    const bool all = only < 0;
    const auto card = openCard(cardPath, false);
    const QString cardName = card->name();
    requireWritable(cardPath);
    QString oldName;
    if (all) {
        confirm(QStringLiteral("Clear all songs on the card %1? This can not be undone.").arg(cardPath));
    } else {
        oldName = songName(*card, only);
        confirm(QStringLiteral("Clear song %1 (%2) on the card %3? This can not be undone.")
                    .arg(only + 1)
                    .arg(quoted(oldName), cardPath));
    }
    return {cardPath,
            cardName,
            all ? Endpoint::WholeCard : only,
            oldName,
            all ? QStringLiteral("before clearing all songs") : QStringLiteral("before clearing"),
            {},
            {},
            {}};
}

void CardTool::clearSongs(const QString &cardPath, const QVector<int> &clearable, ClearedSongs &songs) const
{
    const auto card = openCard(cardPath, true);
    for (int song : clearable) {
        try {
            card->clearSong(song, defaultSongName(song));
        } catch (const SdCard::Error &error) {
            // As the window does: one song that cannot be cleared does not stop the others.
            songs.failed.insert(song, libraryText(error.what()));
            printError(
                QStringLiteral("clearing song %1 failed: %2").arg(song + 1).arg(songs.failed.value(song)));
        }
    }
    try {
        card->close();
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("closing the card failed: %1").arg(libraryText(error.what())));
    }
}

QVector<int> CardTool::clearableSongs(const QString &cardPath, ClearedSongs &songs) const
{
    QVector<int> clearable;
    const auto card = openCard(cardPath, false);
    for (int song = songs.first; song <= songs.last; ++song) {
        try {
            card->checkClearable(song);
            clearable << song;
        } catch (const SdCard::Error &error) {
            songs.failed.insert(song, libraryText(error.what()));
            printError(
                QStringLiteral("clearing song %1 failed%2: %3")
                    .arg(song + 1)
                    .arg(songs.first == songs.last ? QStringLiteral(", nothing was changed") : QString())
                    .arg(songs.failed.value(song)));
        }
    }
    return clearable;
}

int CardTool::concludeClear(const ClearedSongs &songs, const QString &sentence)
{
    QJsonArray list;
    for (int song = songs.first; song <= songs.last; ++song) {
        const bool failed = songs.failed.contains(song);
        list.append(QJsonObject{
            {QStringLiteral("slot"), song + 1},
            {QStringLiteral("cleared"), !failed},
            {QStringLiteral("error"), failed ? QJsonValue(songs.failed.value(song)) : QJsonValue()}});
    }
    report(QStringLiteral("songs"), list);
    report(QStringLiteral("warnings"), QJsonArray::fromStringList(m_warnings));
    if (songs.failed.isEmpty()) {
        conclude(sentence);
        return ExitSuccess;
    }
    if (m_line.has(CommandTable::Json))
        writeJson(m_report);
    return ExitFailure;
}

int CardTool::verify()
{
    const QString path = m_line.argument(0);
    report(QStringLiteral("file"), path);
    if (m_line.has(CommandTable::All))
        return verifyAll(path);
    requireReadable(path, Role::Any);
    const auto lock = lockCard(path, CardLock::Shared);
    FileCheck check;
    try {
        check = FileCheck::run(path);
    } catch (const Error &error) {
        throw ToolError(QStringLiteral("cannot verify %1: %2").arg(path, libraryText(error.what())));
    }

    if (m_line.has(CommandTable::Json))
        writeJson(merged(m_report, checkToJson(check)));
    else
        writeOut(checkToText(path, check).toUtf8());
    return check.problems.isEmpty() ? ExitSuccess : ExitFailure;
}

int CardTool::verifyAll(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        throw ToolError(QStringLiteral("%1 is not a folder").arg(folder));
    // Every archive of the library, never through a link, in a stable order.
    QStringList files;
    QDirIterator entries(folder,
                         {QStringLiteral("*") + FileKinds::cardArchiveExtension(),
                          QStringLiteral("*") + FileKinds::songFileExtension()},
                         QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext())
        files << entries.next();
    files.sort();
    // A mistyped folder must not pass for a library whose files are all sound.
    if (files.isEmpty())
        throw ToolError(QStringLiteral("no archives or song files in %1").arg(folder));
    QJsonArray checked;
    int failures = 0;
    for (const QString &file : files) {
        FileCheck check;
        QString failure;
        try {
            check = FileCheck::run(file);
        } catch (const Error &error) {
            failure = libraryText(error.what());
        }
        failures += failure.isEmpty() && check.problems.isEmpty() ? 0 : 1;
        QJsonObject object = failure.isEmpty() ? checkToJson(check)
                                               : QJsonObject{{QStringLiteral("ok"), false},
                                                             {QStringLiteral("error"), failure}};
        object.insert(QStringLiteral("file"), file);
        checked.append(object);
        if (!m_line.has(CommandTable::Json))
            writeOut((failure.isEmpty()
                          ? checkSummary(file, check)
                          : QStringLiteral("%1: cannot verify: %2\n").arg(printable(file), failure))
                         .toUtf8());
    }
    report(QStringLiteral("ok"), failures == 0);
    report(QStringLiteral("files"), checked);
    if (m_line.has(CommandTable::Json))
        writeJson(m_report);
    return failures == 0 ? ExitSuccess : ExitFailure;
}

int CardTool::makeDemo()
{
    const QString folder = m_line.argument(0);
    if (!QDir().mkpath(folder))
        throw ToolError(QStringLiteral("cannot make the folder %1").arg(folder));
    const QString path = QDir(folder).filePath(FileKinds::cardDataFileName());
    report(QStringLiteral("file"), path);
    refuseExisting(path);
    removeAbandonedFiles(folder);

    const QString parts = m_line.value(CommandTable::Parts);
    const DemoCard demo(m_line.has(CommandTable::Full),
                        parts.isEmpty() ? DemoCard::kPartsOnCard : parts.toInt());
    InterruptWatcher interrupts;
    ProgressBar bar(showProgress());
    bool written = false;
    try {
        written = demo.write(path, [&bar](qint64 done, qint64 total) {
            bar.update(total > 0 ? double(done) / double(total) : 1.0,
                       QStringLiteral("Writing the demo card"), done);
            return InterruptWatcher::interrupted();
        });
    } catch (const SdCard::Error &error) {
        bar.finish();
        throw ToolError(libraryText(error.what()));
    }
    bar.finish();
    if (!written)
        throw ToolError(QStringLiteral("make-demo cancelled; no card was written"), interruptedStatus());
    report(QStringLiteral("audio_bytes"), double(demo.audioBytes()));
    conclude(QStringLiteral("Wrote the demo card %1 (%2 of looper audio).")
                 .arg(path, megabytesText(demo.audioBytes())));
    return ExitSuccess;
}

} // namespace ZovaZode
