// CardTool: the commands of morv-card.
#include "cardtool.h"

#include "domain/cardlock.h"
#include "domain/cardrecords.h"
#include "domain/configurationmanager.h"
#include "domain/defaultnames.h"
#include "domain/democard.h"
#include "domain/filecheck.h"
#include "domain/filekinds.h"
#include "domain/namecheck.h"
#include "domain/newfile.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "filesummary.h"
#include "interruptwatcher.h"
#include "progressbar.h"
#include "toolerror.h"
#include "transferrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace ZovaZode {

namespace {

using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;
using Refusal = CardCommands::Refusal;

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString libraryText(const char *text)
{
    return QString::fromLocal8Bit(text);
}

// A name for a terminal: a name on the card may hold control characters, escape sequences
// among them, which must not reach the terminal as they are.
QString quoted(const QString &text)
{
    return QLatin1Char('"') + printable(text) + QLatin1Char('"');
}

// The window shows these in a box with a blank line between the two sentences; on one line
// of a terminal the sentences are joined by a space.
QString oneLine(const QString &message)
{
    QString line = message;
    return line.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
}

// The name rules of the card header and the song list, with their messages.
void requireValidName(const QString &name)
{
    if (name.isEmpty())
        throw ToolError::usage(QStringLiteral("the new name is empty"));
    const QString refusal = renameRefusal(name);
    if (!refusal.isEmpty())
        throw ToolError(oneLine(refusal));
}

void refuseExisting(const QString &path)
{
    const QFileInfo file(path);
    if (file.exists() || file.isSymLink())
        throw ToolError(QStringLiteral("%1 already exists; it is not replaced").arg(path));
}

// Asks the system, so that nothing is written to find out.
void requireWritable(const QString &path)
{
    if (::access(QFile::encodeName(path).constData(), W_OK) != 0)
        throw ToolError(QStringLiteral("the card %1 is write-protected").arg(path));
}

// Holds the card's lock for a command's own reads or writes; a card in use by another program
// ends the command with the lock's message.
std::unique_ptr<CardLock> lockCard(const QString &path, CardLock::Mode mode)
{
    try {
        return std::make_unique<CardLock>(path, mode);
    } catch (const SdCard::Busy &busy) {
        throw ToolError(libraryText(busy.what()));
    }
}

// A transfer refused because the card was in use has changed nothing.
bool refusedAsBusy(const QString &errorText)
{
    return errorText.startsWith(QLatin1String(CardLock::BusyPrefix));
}

// A killed transfer leaves its temporary file behind; the next write into the folder removes it.
void removeAbandonedFiles(const QString &folder)
{
    NewFile::removeAbandoned(folder, 0);
}

// Opens the card as the window does; for writing only when the system says it may be written.
std::shared_ptr<SdCard> openCard(const QString &path, bool forWriting)
{
    auto card = std::make_shared<SdCard>();
    if (!card->open(path, 0))
        throw ToolError(QStringLiteral("cannot open the card %1: %2").arg(path, card->openError()));
    if (!forWriting)
        return card;
    card->close();
    requireWritable(path);
    if (!card->open(path, 1))
        throw ToolError(
            QStringLiteral("cannot open the card %1 for writing: %2").arg(path, card->openError()));
    return card;
}

QString songName(const SdCard &card, int song)
{
    try {
        return card.songInfo(song).name;
    } catch (const SdCard::Error &error) {
        throw ToolError(
            QStringLiteral("cannot read song %1: %2").arg(song + 1).arg(libraryText(error.what())));
    }
}

const char kSafetyCopyFailed[] = "could not make a safety copy, nothing was changed: ";

bool songHasData(const SdCard &card, int song)
{
    try {
        for (int part = 0; part < 5; ++part) {
            if (card.partInfo(song, part).hasData)
                return true;
        }
    } catch (const SdCard::Error &error) {
        throw ToolError(
            QStringLiteral("cannot read song %1: %2").arg(song + 1).arg(libraryText(error.what())));
    }
    return false;
}

// Warnings go to standard error even with --quiet or --json: they are about the user's data.
void printWarnings(const QStringList &warnings)
{
    for (const QString &warning : warnings) {
        const QByteArray line = "morv-card: warning: " + warning.toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
    std::fflush(stderr);
}

} // namespace

CardTool::CardTool(const CommandLine &line) : m_line(line) {}

CardTool::~CardTool() = default;

ConfigurationManager &CardTool::configuration()
{
    if (!m_configuration) {
        // The window's names, so that both read one settings store; the tool keeps its own name
        // everywhere else.
        const QString organisation = QCoreApplication::organizationName();
        const QString application = QCoreApplication::applicationName();
        QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
        QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
        m_configuration = std::make_unique<ConfigurationManager>();
        QCoreApplication::setOrganizationName(organisation);
        QCoreApplication::setApplicationName(application);
    }
    return *m_configuration;
}

CardCommands::SafetyPolicy CardTool::safetyPolicy()
{
    CardCommands::SafetyPolicy policy;
    policy.verify = !m_line.noVerify();
    policy.limit = [this] { return configuration().safetyCopyLimit(); };
    if (m_line.noSafetyCopy()) {
        policy.enabled = false;
    } else if (m_line.hasSafetyDir()) {
        policy.library = m_line.safetyDir();
    } else {
        policy.enabled = configuration().safetyCopiesEnabled();
        if (policy.enabled)
            policy.library = configuration().cardLibraryLocation();
    }
    return policy;
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
    if (finished)
        printWarnings(protection.copy->warnings);
    if (!protection.refused) {
        if (protection.copy)
            say(QStringLiteral("Safety copy: %1").arg(protection.copy->destination.path));
        return;
    }
    switch (protection.refusal) {
    case Refusal::NoFolder:
        throw ToolError(QLatin1String(kSafetyCopyFailed) + protection.detail);
    case Refusal::Unchecked:
        throw ToolError(QStringLiteral("safety copy cancelled while it was checked; nothing was changed "
                                       "(the unchecked copy is %1)")
                            .arg(protection.detail));
    case Refusal::Cancelled:
        throw ToolError(QStringLiteral("safety copy cancelled; nothing was changed"));
    case Refusal::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(QLatin1String(kSafetyCopyFailed) + runner.errorText());
}

int CardTool::transfer(TransferRunner &runner, const Endpoint &source, const Endpoint &destination,
                       const TransferTexts &texts)
{
    switch (runner.run(source, destination, !m_line.noVerify(), texts.label)) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*runner.request(), texts.file, texts.done, texts.what);
        return ExitSuccess;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(texts.cancelled);
    case TransferRunner::Outcome::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(texts.failed + runner.errorText());
}

int CardTool::run()
{
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
        writeOut(text.toUtf8() + '\n');
}

void CardTool::reportTransfer(const Request &request, const QString &file, const QString &done,
                              const QString &what) const
{
    printWarnings(request.warnings);
    if (m_line.json()) {
        QJsonObject object;
        object.insert(QStringLiteral("file"), file);
        object.insert(QStringLiteral("verified"), request.verification == Request::Verification::Passed);
        object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(request.warnings));
        writeOut(QJsonDocument(object).toJson(QJsonDocument::Indented));
        return;
    }
    if (request.verification == Request::Verification::Skipped)
        say(done +
            QStringLiteral(" Verification was skipped at your request; the %1 was not checked.").arg(what));
    else
        say(done);
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
    const QByteArray prompt = question.toUtf8() + " [y/N] ";
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
        writeOut(QJsonDocument(summary.toJson()).toJson(QJsonDocument::Indented));
    else
        writeOut(summary.toText().toUtf8());
    return ExitSuccess;
}

int CardTool::archive()
{
    const QString cardPath = m_line.argument(0);
    const QString out = m_line.argument(1);
    QString name;
    if (m_line.hasName()) {
        requireValidName(m_line.name());
        name = m_line.name();
    }
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
                    {QStringLiteral("Archiving"), out,
                     QStringLiteral("Archived the card %1 to %2.").arg(cardPath, out),
                     QStringLiteral("archive"), QStringLiteral("archiving cancelled; no archive was written"),
                     QStringLiteral("archiving the card failed: ")});
}

int CardTool::restore()
{
    const QString archivePath = m_line.argument(0);
    const QString cardPath = m_line.argument(1);
    QString archiveName;
    try {
        const SongArchive archive(archivePath, 0, 0);
        // A song file has no user prefs and one song; restoring it as a card would overwrite
        // the card's prefs with whatever bytes the file holds there.
        if (!archive.isCardArchive())
            throw ToolError(
                QStringLiteral("%1 is not a card archive (it holds %2 songs); use import-song for a "
                               "song file")
                    .arg(archivePath)
                    .arg(archive.songCount()));
        archiveName = archive.name();
    } catch (const SongArchive::Error &error) {
        throw ToolError(QStringLiteral("cannot read %1: %2").arg(archivePath, libraryText(error.what())));
    }
    const QString cardName = openCard(cardPath, false)->name();
    requireWritable(cardPath);
    confirm(QStringLiteral("Overwrite the entire card %1 with the archive %2 (%3)? This can not be undone.")
                .arg(cardPath, archivePath, quoted(archiveName)));

    TransferRunner runner(showProgress());
    protect(runner,
            {cardPath, cardName, Endpoint::WholeCard, QString(), QStringLiteral("before restore"), {}});
    return transfer(
        runner, Endpoint::archive(archivePath), Endpoint::card(cardPath),
        {QStringLiteral("Restoring"), cardPath,
         QStringLiteral("Restored the card %1 from %2.").arg(cardPath, archivePath), QStringLiteral("card"),
         QStringLiteral("restore cancelled; the card %1 is partly restored").arg(cardPath),
         QStringLiteral("restoring the card failed; the card %1 may be partly restored: ").arg(cardPath)});
}

int CardTool::exportSong()
{
    const QString cardPath = m_line.argument(0);
    const int song = CommandLine::songNumber(m_line.argument(1));
    const QString out = m_line.argument(2);
    QString name;
    if (m_line.hasName()) {
        requireValidName(m_line.name());
        name = m_line.name();
    }
    refuseExisting(out);
    {
        const auto card = openCard(cardPath, false);
        if (name.isEmpty() && songName(*card, song).isEmpty())
            name = defaultSongName(song);
    }
    removeAbandonedFiles(QFileInfo(out).absolutePath());

    TransferRunner runner(showProgress());
    return transfer(runner, Endpoint::card(cardPath, song), Endpoint::archive(out, Endpoint::WholeCard, name),
                    {QStringLiteral("Copying song %1").arg(song + 1), out,
                     QStringLiteral("Copied song %1 of %2 to %3.").arg(song + 1).arg(cardPath, out),
                     QStringLiteral("song file"), QStringLiteral("copy cancelled; no song file was written"),
                     QStringLiteral("copying song %1 failed: ").arg(song + 1)});
}

int CardTool::importSong()
{
    const QString songPath = m_line.argument(0);
    const QString cardPath = m_line.argument(1);
    const int song = CommandLine::songNumber(m_line.argument(2));
    QString newName;
    try {
        const SongArchive archive(songPath, 0, 0);
        if (archive.songCount() != 1)
            throw ToolError(QStringLiteral("%1 is not a song file (it holds %2 songs)")
                                .arg(songPath)
                                .arg(archive.songCount()));
        newName = archive.songInfo(0).name;
    } catch (const SongArchive::Error &error) {
        throw ToolError(QStringLiteral("cannot read %1: %2").arg(songPath, libraryText(error.what())));
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
    confirm(QStringLiteral("Overwrite song %1 (%2) on the card %3 with %4 from %5? This can not be undone.")
                .arg(song + 1)
                .arg(quoted(oldName), cardPath, quoted(newName), songPath));

    TransferRunner runner(showProgress());
    // An empty slot holds nothing worth a copy.
    if (overwritesData)
        protect(runner, {cardPath, cardName, song, oldName, QStringLiteral("before import"), {}});
    return transfer(
        runner, Endpoint::archive(songPath, 0), Endpoint::card(cardPath, song),
        {QStringLiteral("Copying to slot %1").arg(song + 1), cardPath,
         QStringLiteral("Copied %1 into slot %2 of %3.").arg(songPath, QString::number(song + 1), cardPath),
         QStringLiteral("song"),
         QStringLiteral("copy cancelled; song %1 on the card is partly overwritten").arg(song + 1),
         QStringLiteral("copying into slot %1 failed; the song there may be partly overwritten: ")
             .arg(song + 1)});
}

int CardTool::rename()
{
    const bool isSong = m_line.arguments().size() == 3;
    const QString cardPath = m_line.argument(0);
    const int song = isSong ? CommandLine::songNumber(m_line.argument(1)) : -1;
    const QString name = m_line.argument(isSong ? 2 : 1);
    requireValidName(name);

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

    {
        TransferRunner runner(showProgress());
        protect(runner,
                {cardPath,
                 cardName,
                 all ? Endpoint::WholeCard : only,
                 oldName,
                 all ? QStringLiteral("before clearing all songs") : QStringLiteral("before clearing"),
                 {}});
    }

    const auto lock = lockCard(cardPath, CardLock::Exclusive);
    const auto card = openCard(cardPath, true);
    const int first = all ? 0 : only;
    const int last = all ? SdCard::songCount() - 1 : only;
    int failures = 0;
    for (int song = first; song <= last; ++song) {
        try {
            card->clearSong(song, defaultSongName(song));
        } catch (const SdCard::Error &error) {
            // As the window does: one song that cannot be cleared does not stop the others.
            ++failures;
            const QByteArray line = QStringLiteral("morv-card: clearing song %1 failed: %2\n")
                                        .arg(song + 1)
                                        .arg(libraryText(error.what()))
                                        .toUtf8();
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
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
    const auto lock = lockCard(path, CardLock::Shared);
    FileCheck check;
    try {
        check = FileCheck::run(path);
    } catch (const Error &error) {
        throw ToolError(QStringLiteral("cannot verify %1: %2").arg(path, libraryText(error.what())));
    }

    if (m_line.json())
        writeOut(QJsonDocument(checkToJson(check)).toJson(QJsonDocument::Indented));
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
                       QStringLiteral("Writing the demo card"));
            return InterruptWatcher::interrupted();
        });
    } catch (const SdCard::Error &error) {
        bar.finish();
        throw ToolError(libraryText(error.what()));
    }
    bar.finish();
    if (!written)
        throw ToolError(QStringLiteral("make-demo cancelled; no card was written"));
    say(QStringLiteral("Wrote the demo card %1 (%2 MB of looper audio).")
            .arg(path)
            .arg(double(demo.audioBytes()) / 1e6, 0, 'f', 1));
    return ExitSuccess;
}

} // namespace ZovaZode
