// CardTool: the commands of morv-card that read a file or change the card in place (info, verify,
// rename, clear, make-demo), and what all commands share: confirmation, progress and messages.
#include "cardtool.h"

#include "domain/defaultnames.h"
#include "domain/democard.h"
#include "domain/filecheck.h"
#include "domain/filekinds.h"
#include "domain/sdcard.h"
#include "filesummary.h"
#include "inputfile.h"
#include "interruptwatcher.h"
#include "progressbar.h"
#include "toolerror.h"
#include "tooloutput.h"
#include "transferrunner.h"

#include <QDir>
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
    CardLock::setWritingWithoutLock(m_line.noLock());
    const QString &command = m_line.command();
    if (command == QLatin1String("info"))
        return info();
    if (command == QLatin1String("archive"))
        return archive();
    if (command == QLatin1String("restore"))
        return restore();
    if (command == QLatin1String("export-song"))
        return exportSong();
    if (command == QLatin1String("import-song"))
        return importSong();
    if (command == QLatin1String("rename"))
        return rename();
    if (command == QLatin1String("clear"))
        return clear();
    if (command == QLatin1String("verify"))
        return verify();
    if (command == QLatin1String("make-demo"))
        return makeDemo();
    throw ToolError::usage(QStringLiteral("unknown command '%1'").arg(command));
}

bool CardTool::showProgress() const
{
    return !m_line.quiet() && ProgressBar::stderrIsTerminal();
}

void CardTool::say(const QString &text) const
{
    if (!m_line.quiet())
        writeOut(printable(text).toUtf8() + '\n');
}

void CardTool::confirm(const QString &question) const
{
    if (m_line.yes())
        return;
    if (::isatty(STDIN_FILENO) != 1)
        throw ToolError::usage(
            QStringLiteral("%1 overwrites card data: confirm with --yes when standard input is "
                           "not a terminal")
                .arg(m_line.command()));
    const QByteArray prompt = printable(question).toUtf8() + " [y/N] ";
    std::fwrite(prompt.constData(), 1, size_t(prompt.size()), stderr);
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin) || (answer[0] != 'y' && answer[0] != 'Y'))
        throw ToolError(QStringLiteral("cancelled; nothing was changed"));
}

int CardTool::info()
{
    const FileSummary summary = FileSummary::read(m_line.argument(0));
    if (m_line.json())
        writeJson(summary.toJson());
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

    requireReadable(cardPath, Role::Card);
    // Locked before the card is read, so that the header written back is the one on the card.
    const auto lock = lockCard(cardPath, CardLock::Exclusive);
    const auto card = openCard(cardPath, true);
    try {
        if (isSong) {
            SongInfo info = card->songInfo(song);
            info.name = name;
            card->setSongInfo(song, info);
        } else {
            card->setName(name);
        }
        // Closing writes the header and reports a failure, which the destructor could only log.
        card->close();
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("renaming failed: %1").arg(libraryText(error.what())));
    }
    if (isSong)
        say(QStringLiteral("Renamed song %1 to %2.").arg(song + 1).arg(quoted(name)));
    else
        say(QStringLiteral("Renamed the card to %1.").arg(quoted(name)));
    return ExitSuccess;
}

int CardTool::clear()
{
    const QString cardPath = m_line.argument(0);
    const bool all = m_line.argument(1) == QLatin1String("all");
    const int only = all ? -1 : CommandLine::songNumber(m_line.argument(1));
    QString cardName;
    QString oldName;
    {
        const auto card = openCard(cardPath, false);
        cardName = card->name();
        requireWritable(cardPath);
        if (all) {
            confirm(QStringLiteral("Clear all songs on the card %1? This can not be undone.").arg(cardPath));
        } else {
            oldName = songName(*card, only);
            confirm(QStringLiteral("Clear song %1 (%2) on the card %3? This can not be undone.")
                        .arg(only + 1)
                        .arg(quoted(oldName), cardPath));
        }
    }

    // One lock from the check to the last song cleared, over the safety copy on the worker.
    const std::shared_ptr<CardLock> lock = lockForCommand(cardPath);
    const CardLock::Use use(lock);
    // A song whose records the clear would refuse is found before the copy is made: alone, it
    // is refused with nothing changed; among all, the others are cleared.
    const int first = all ? 0 : only;
    const int last = all ? SdCard::songCount() - 1 : only;
    QVector<int> clearable;
    int failures = 0;
    {
        const auto card = openCard(cardPath, false);
        for (int song = first; song <= last; ++song) {
            try {
                card->checkClearable(song);
                clearable << song;
            } catch (const SdCard::Error &error) {
                ++failures;
                printError(QStringLiteral("clearing song %1 failed%2: %3")
                               .arg(song + 1)
                               .arg(all ? QString() : QStringLiteral(", nothing was changed"))
                               .arg(libraryText(error.what())));
            }
        }
    }
    if (clearable.isEmpty())
        return ExitFailure;

    {
        TransferRunner runner(showProgress());
        runner.holdCard(lock);
        protect(runner,
                {cardPath,
                 cardName,
                 all ? Endpoint::WholeCard : only,
                 oldName,
                 all ? QStringLiteral("before clearing all songs") : QStringLiteral("before clearing"),
                 {},
                 {},
                 {}});
    }

    const auto card = openCard(cardPath, true);
    for (int song : clearable) {
        try {
            card->clearSong(song, defaultSongName(song));
        } catch (const SdCard::Error &error) {
            // As the window does: one song that cannot be cleared does not stop the others.
            ++failures;
            printError(
                QStringLiteral("clearing song %1 failed: %2").arg(song + 1).arg(libraryText(error.what())));
        }
    }
    try {
        card->close();
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("closing the card failed: %1").arg(libraryText(error.what())));
    }
    if (failures > 0)
        return ExitFailure;
    say(all ? QStringLiteral("Cleared all songs.") : QStringLiteral("Cleared song %1.").arg(only + 1));
    return ExitSuccess;
}

int CardTool::verify()
{
    const QString path = m_line.argument(0);
    requireReadable(path, Role::Any);
    const auto lock = lockCard(path, CardLock::Shared);
    FileCheck check;
    try {
        check = FileCheck::run(path);
    } catch (const Error &error) {
        throw ToolError(QStringLiteral("cannot verify %1: %2").arg(path, libraryText(error.what())));
    }

    if (m_line.json())
        writeJson(checkToJson(check));
    else
        writeOut(checkToText(path, check).toUtf8());
    return check.problems.isEmpty() ? ExitSuccess : ExitFailure;
}

int CardTool::makeDemo()
{
    const QString folder = m_line.argument(0);
    if (!QDir().mkpath(folder))
        throw ToolError(QStringLiteral("cannot make the folder %1").arg(folder));
    const QString path = QDir(folder).filePath(FileKinds::cardDataFileName());
    refuseExisting(path);
    removeAbandonedFiles(folder);

    const DemoCard demo(m_line.full(), m_line.parts() < 0 ? DemoCard::kPartsOnCard : m_line.parts());
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
    say(QStringLiteral("Wrote the demo card %1 (%2 MB of looper audio).")
            .arg(path)
            .arg(double(demo.audioBytes()) / 1e6, 0, 'f', 1));
    return ExitSuccess;
}

} // namespace ZovaZode
