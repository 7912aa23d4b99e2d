// CardTool: the commands that run transfers on the worker (archive, restore, export-song,
// import-song) and the safety copy made before a command overwrites card data.
#include "cardtool.h"

#include "domain/cardlock.h"
#include "domain/defaultnames.h"
#include "domain/interruptwatcher.h"
#include "domain/newfile.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "domain/settings.h"
#include "domain/songarchive.h"
#include "inputfile.h"
#include "toolerror.h"
#include "tooloutput.h"
#include "transferrunner.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace ZovaZode {

using namespace InputFile;
using namespace ToolOutput;
using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;
using Refusal = CardCommands::Refusal;

namespace {

const char kSafetyCopyFailed[] = "could not make a safety copy, nothing was changed: ";

// A transfer refused because the card was in use, or could not be locked, has changed nothing.
bool refusedAsBusy(const QString &errorText)
{
    return errorText.startsWith(QLatin1String(CardLock::BusyPrefix)) ||
           errorText.startsWith(QLatin1String(CardLock::UnlockablePrefix));
}

// The name a new file gets from --name, checked by the rules of the window.
QString nameOption(const CommandLine &line)
{
    if (!line.has(CommandTable::Name))
        return QString();
    return CommandLine::checkedName(line.value(CommandTable::Name));
}

// Reads what an archive command is about to copy from; throws with the file's role named.
SongArchive readArchive(const QString &path, Role role)
{
    requireReadable(path, role);
    const QString what =
        role == Role::SongFile ? QStringLiteral("the song file ") : QStringLiteral("the archive ");
    try {
        return SongArchive(path, 0, 0);
    } catch (const SongArchive::Error &error) {
        throw ToolError(QStringLiteral("cannot read %1%2: %3").arg(what, path, libraryText(error.what())));
    }
}

// A transfer to the card that ended before its first write.
bool untouched(const Request &request, const QString &unwrittenText)
{
    return request.destination.kind == Endpoint::Card && !request.wroteCard && !unwrittenText.isEmpty();
}

} // namespace

void CardTool::removeAbandonedFiles(const QString &folder)
{
    // Even with --quiet or --json: files of the user's folder were removed.
    QByteArray lines;
    for (const QString &path : NewFile::removeAbandoned(folder, 0))
        lines +=
            "morv-card: removed a temporary file left by a stopped transfer: " + quoted(path).toUtf8() + '\n';
    std::fwrite(lines.constData(), 1, size_t(lines.size()), stderr);
    std::fflush(stderr);
}

CardCommands::SafetyPolicy CardTool::safetyPolicy()
{
    CardCommands::SafetyPolicy policy;
    policy.verify = !m_line.has(CommandTable::NoVerify);
    policy.limit = [this] { return m_settings().safetyCopyLimit(); };
    if (m_line.has(CommandTable::NoSafetyCopy)) {
        policy.enabled = false;
    } else if (m_line.has(CommandTable::SafetyDir)) {
        policy.library = m_line.value(CommandTable::SafetyDir);
    } else {
        policy.enabled = m_settings().safetyCopiesEnabled();
        if (policy.enabled)
            policy.library = m_settings().cardLibraryLocation();
    }
    return policy;
}

CardCommands::Options CardTool::transferOptions() const
{
    CardCommands::Options options;
    options.verify = !m_line.has(CommandTable::NoVerify);
    // The window's setting holds for the tool, as the safety copies' do.
    options.writeAll = m_line.has(CommandTable::WriteAll) || m_settings().writesEveryByte();
    return options;
}

void CardTool::checkArchive(TransferRunner &runner, const Endpoint &archive, const Endpoint &card)
{
    switch (runner.check(archive, card, m_line.has(CommandTable::Force),
                         QStringLiteral("Checking the archive"))) {
    case TransferRunner::Outcome::Finished:
        return;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(QStringLiteral("cancelled; nothing was changed"), interruptedStatus());
    case TransferRunner::Outcome::Failed:
        break;
    }
    const bool changed = runner.request()->archiveChanged;
    throw ToolError(runner.errorText() + (changed
                                              ? QStringLiteral(" Nothing was changed; --force restores it "
                                                               "all the same.")
                                              : QStringLiteral(" Nothing was changed.")));
}

int CardTool::interruptedStatus()
{
    const int signal = InterruptWatcher::lastSignal();
    return signal ? int(ExitSignalBase) + signal : int(ExitFailure);
}

void CardTool::protect(TransferRunner &runner, CardCommands::Target target)
{
    const CardCommands::SafetyPolicy policy = safetyPolicy();
    target.beforeCopy = [library = policy.library](CardCommands::Target &) {
        removeAbandonedFiles(SafetyCopies::folder(library));
    };
    const TransferRunner::Protection protection =
        runner.protect(policy, target, QStringLiteral("Saving a safety copy"));
    const bool finished =
        protection.copy && (!protection.refused || protection.refusal == Refusal::Unchecked);
    if (finished) {
        printWarnings(protection.copy->warnings);
        m_warnings += protection.copy->warnings;
    }
    if (!protection.refused) {
        if (protection.copy) {
            report(QStringLiteral("safety_copy"), protection.copy->destination.path);
            say(QStringLiteral("Safety copy: %1").arg(protection.copy->destination.path));
        }
        return;
    }
    switch (protection.refusal) {
    case Refusal::NoFolder:
        throw ToolError(QLatin1String(kSafetyCopyFailed) + protection.detail);
    case Refusal::Unchecked:
        report(QStringLiteral("safety_copy"), protection.detail);
        throw ToolError(QStringLiteral("safety copy cancelled while it was checked; nothing was changed "
                                       "(the unchecked copy is %1)")
                            .arg(protection.detail),
                        interruptedStatus());
    case Refusal::Cancelled:
        throw ToolError(QStringLiteral("safety copy cancelled; nothing was changed"), interruptedStatus());
    case Refusal::Failed:
        break;
    }
    // Refused before the copy started (the card was taken meanwhile), or by the copy itself.
    const QString reason = runner.errorText().isEmpty() ? protection.detail : runner.errorText();
    if (refusedAsBusy(reason))
        throw ToolError(lockRefusal(reason));
    throw ToolError(QLatin1String(kSafetyCopyFailed) + reason);
}

int CardTool::transfer(TransferRunner &runner, const Endpoint &source, const Endpoint &destination,
                       const TransferTexts &texts)
{
    switch (runner.run(source, destination, transferOptions(), texts.label)) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*runner.request(),
                       destination.kind == Endpoint::Card
                           ? SongTransfer::outcomeText(*runner.request(), source.path)
                           : texts.done,
                       texts.what);
        return runner.request()->verification == Request::Verification::Skipped ? interruptedStatus()
                                                                                : int(ExitSuccess);
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(untouched(*runner.request(), texts.failedUnwritten) ? texts.cancelledUnwritten
                                                                            : texts.cancelled,
                        interruptedStatus());
    case TransferRunner::Outcome::Failed:
        break;
    }
    // It failed while reading back: what was written did not read back as it was written.
    if (runner.request()->phase.load() == Request::Verifying)
        report(QStringLiteral("verification"), QStringLiteral("failed"));
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(lockRefusal(runner.errorText()));
    throw ToolError(
        (untouched(*runner.request(), texts.failedUnwritten) ? texts.failedUnwritten : texts.failed) +
        runner.errorText());
}

void CardTool::reportTransfer(const Request &request, const QString &done, const QString &what)
{
    printWarnings(request.warnings);
    m_warnings += request.warnings;
    const bool passed = request.verification == Request::Verification::Passed;
    report(QStringLiteral("verification"), passed ? QStringLiteral("passed") : QStringLiteral("skipped"));
    // The first objects had a yes or no for the read-back of a new file; kept for the scripts
    // that read it.
    if (request.destination.kind == Endpoint::ArchiveFile)
        report(QStringLiteral("verified"), passed);
    if (request.bytesWritten >= 0) {
        report(QStringLiteral("bytes_written"), double(request.bytesWritten));
        report(QStringLiteral("bytes_unchanged"), double(request.bytesUnchanged));
    }
    report(QStringLiteral("warnings"), QJsonArray::fromStringList(m_warnings));
    if (request.verification == Request::Verification::Skipped)
        conclude(
            done +
            QStringLiteral(" Verification was skipped at your request; the %1 was not checked.").arg(what));
    else
        conclude(done);
}

int CardTool::archive()
{
    const QString cardPath = m_line.argument(0);
    const QString out = m_line.argument(1);
    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("file"), out);
    QString name = nameOption(m_line);
    refuseExisting(out);
    {
        const auto card = openCard(cardPath, false);
        // As the window does: an unnamed card is archived under the default name.
        if (name.isEmpty() && card->name().isEmpty())
            name = defaultCardName();
    }
    removeAbandonedFiles(QFileInfo(out).absolutePath());

    TransferRunner runner(showProgress());
    return transfer(runner, Endpoint::card(cardPath), Endpoint::archive(out, Endpoint::WholeCard, name),
                    {QStringLiteral("Archiving"),
                     QStringLiteral("Archived the card %1 to %2.").arg(cardPath, out),
                     QStringLiteral("archive"),
                     QStringLiteral("archiving cancelled; no archive was written"),
                     QStringLiteral("archiving the card failed: "),
                     {},
                     {}});
}

int CardTool::restore()
{
    const QString archivePath = m_line.argument(0);
    const QString cardPath = m_line.argument(1);
    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("archive"), archivePath);
    report(QStringLiteral("safety_copy"), QJsonValue());
    QString archiveName;
    {
        const SongArchive archive = readArchive(archivePath, Role::Archive);
        // A song file has no user prefs and one song; restoring it as a card would overwrite
        // the card's prefs with whatever bytes the file holds there.
        if (!archive.isCardArchive())
            throw ToolError(
                QStringLiteral("%1 is not a card archive (it holds %2 songs); use import-song for a "
                               "song file")
                    .arg(archivePath)
                    .arg(archive.songCount()));
        archiveName = archive.name();
    }
    const QString cardName = openCard(cardPath, false)->name();
    requireWritable(cardPath);
    TransferRunner runner(showProgress());
    checkArchive(runner, Endpoint::archive(archivePath), Endpoint::card(cardPath));
    confirm(QStringLiteral("Overwrite the entire card %1 with the archive %2 (%3)? This can not be undone.")
                .arg(cardPath, archivePath, quoted(archiveName)));

    // One lock from the safety copy to the end of the restore: nothing slips in between.
    runner.holdCard(lockForCommand(cardPath));
    protect(
        runner,
        {cardPath, cardName, Endpoint::WholeCard, QString(), QStringLiteral("before restore"), {}, {}, {}});
    return transfer(
        runner, Endpoint::archive(archivePath), Endpoint::card(cardPath),
        {QStringLiteral("Restoring"), QString(), QStringLiteral("card"),
         QStringLiteral("restore cancelled; the card %1 is partly restored").arg(cardPath),
         QStringLiteral("restoring the card failed; the card %1 may be partly restored: ").arg(cardPath),
         QStringLiteral("restore cancelled; nothing was written to the card %1").arg(cardPath),
         QStringLiteral("restoring the card failed; nothing was written to the card %1: ").arg(cardPath)});
}

int CardTool::exportSong()
{
    const QString cardPath = m_line.argument(0);
    const int song = CommandLine::songNumber(m_line.argument(1));
    const QString out = m_line.argument(2);
    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("slot"), song + 1);
    report(QStringLiteral("file"), out);
    QString name = nameOption(m_line);
    refuseExisting(out);
    {
        const auto card = openCard(cardPath, false);
        if (name.isEmpty() && songName(*card, song).isEmpty())
            name = defaultSongName(song);
    }
    removeAbandonedFiles(QFileInfo(out).absolutePath());

    TransferRunner runner(showProgress());
    return transfer(runner, Endpoint::card(cardPath, song), Endpoint::archive(out, Endpoint::WholeCard, name),
                    {QStringLiteral("Copying song %1").arg(song + 1),
                     QStringLiteral("Copied song %1 of %2 to %3.").arg(song + 1).arg(cardPath, out),
                     QStringLiteral("song file"),
                     QStringLiteral("copy cancelled; no song file was written"),
                     QStringLiteral("copying song %1 failed: ").arg(song + 1),
                     {},
                     {}});
}

int CardTool::importSong()
{
    const QString songPath = m_line.argument(0);
    const QString cardPath = m_line.argument(1);
    const int song = CommandLine::songNumber(m_line.argument(2));
    report(QStringLiteral("card"), cardPath);
    report(QStringLiteral("slot"), song + 1);
    report(QStringLiteral("song_file"), songPath);
    report(QStringLiteral("safety_copy"), QJsonValue());
    QString newName;
    {
        const SongArchive archive = readArchive(songPath, Role::SongFile);
        if (archive.songCount() != 1)
            throw ToolError(QStringLiteral("%1 is not a song file (it holds %2 songs)")
                                .arg(songPath)
                                .arg(archive.songCount()));
        try {
            newName = archive.songInfo(0).name;
        } catch (const SongArchive::Error &error) {
            throw ToolError(
                QStringLiteral("cannot read the song file %1: %2").arg(songPath, libraryText(error.what())));
        }
    }
    QString oldName;
    QString cardName;
    bool overwritesData = false;
    {
        const auto card = openCard(cardPath, false);
        oldName = songName(*card, song);
        cardName = card->name();
        overwritesData = songHasData(*card, song);
    }
    requireWritable(cardPath);
    TransferRunner runner(showProgress());
    checkArchive(runner, Endpoint::archive(songPath, 0), Endpoint::card(cardPath, song));
    confirm(QStringLiteral("Overwrite song %1 (%2) on the card %3 with %4 from %5? This can not be undone.")
                .arg(song + 1)
                .arg(quoted(oldName), cardPath, quoted(newName), songPath));

    runner.holdCard(lockForCommand(cardPath));
    // An empty slot holds nothing worth a copy.
    if (overwritesData)
        protect(runner, {cardPath, cardName, song, oldName, QStringLiteral("before import"), {}, {}, {}});
    return transfer(
        runner, Endpoint::archive(songPath, 0), Endpoint::card(cardPath, song),
        {QStringLiteral("Copying to slot %1").arg(song + 1), QString(), QStringLiteral("song"),
         QStringLiteral("copy cancelled; song %1 on the card is partly overwritten").arg(song + 1),
         QStringLiteral("copying into slot %1 failed; the song there may be partly overwritten: ")
             .arg(song + 1),
         QStringLiteral("copy cancelled; nothing was written to slot %1").arg(song + 1),
         QStringLiteral("copying into slot %1 failed; nothing was written: ").arg(song + 1)});
}

} // namespace ZovaZode
