// CardTool: the commands of morv-card.
#include "cardtool.h"

#include "app/configurationmanager.h"
#include "carddata/verify.h"
#include "domain/cardlock.h"
#include "domain/cardrecords.h"
#include "domain/defaultnames.h"
#include "domain/democard.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "filesummary.h"
#include "interruptwatcher.h"
#include "progressbar.h"
#include "toolerror.h"
#include "transfer/newfile.h"
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
    if (!isValidCardName(name))
        throw ToolError(oneLine(QStringLiteral("The name is too long.\n\nPlease choose a different name.")));
    if (!hasNoForbiddenCharacters(name))
        throw ToolError(oneLine(QStringLiteral(
            "The name contains characters that are not permitted.\n\nPlease avoid punctuation.")));
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
        throw ToolError(
            QStringLiteral("cannot open the card %1: %2").arg(path, libraryText(mlsdGetErrorString())));
    if (!forWriting)
        return card;
    card->close();
    requireWritable(path);
    if (!card->open(path, 1))
        throw ToolError(QStringLiteral("cannot open the card %1 for writing: %2")
                            .arg(path, libraryText(mlsdGetErrorString())));
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

std::shared_ptr<Request> newRequest(const Endpoint &source, const Endpoint &destination)
{
    auto request = std::make_shared<Request>();
    request->source = source;
    request->destination = destination;
    return request;
}

Endpoint endpoint(qint32 kind, const QString &path, qint32 song, const QString &name = QString())
{
    Endpoint point;
    point.kind = kind;
    point.path = path;
    point.song = song;
    point.name = name;
    return point;
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

bool verificationSkipped(const Request &request)
{
    return request.verification == Request::Verification::Skipped;
}

QString verifyKindName(VerifyKind kind)
{
    switch (kind) {
    case VerifyKind::Card:
        return QStringLiteral("card data file");
    case VerifyKind::CardArchive:
        return QStringLiteral("card archive");
    case VerifyKind::SongFile:
        return QStringLiteral("song file");
    case VerifyKind::Archive:
        return QStringLiteral("archive");
    case VerifyKind::Unknown:
        break;
    }
    return QStringLiteral("unknown file");
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

QString CardTool::safetyLibrary()
{
    if (m_line.noSafetyCopy())
        return QString();
    QString library;
    if (m_line.hasSafetyDir()) {
        library = m_line.safetyDir();
    } else {
        if (!configuration().safetyCopiesEnabled())
            return QString();
        library = configuration().cardLibraryLocation();
    }
    QString error;
    if (!SafetyCopies::ensureFolder(library, &error))
        throw ToolError(QLatin1String(kSafetyCopyFailed) + error);
    return library;
}

void CardTool::makeSafetyCopy(const Endpoint &source, const QString &path, const QString &library)
{
    removeAbandonedFiles(SafetyCopies::folder(library));
    TransferRunner runner(showProgress());
    const auto request = newRequest(source, endpoint(Endpoint::ArchiveFile, path, Endpoint::WholeCard));
    request->verify = !m_line.noVerify();
    switch (runner.run(request, QStringLiteral("Saving a safety copy"))) {
    case TransferRunner::Outcome::Finished:
        printWarnings(request->warnings);
        // A copy nobody checked is no reason to go on overwriting what it holds.
        if (verificationSkipped(*request))
            throw ToolError(QStringLiteral("safety copy cancelled while it was checked; nothing was changed "
                                           "(the unchecked copy is %1)")
                                .arg(path));
        break;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(QStringLiteral("safety copy cancelled; nothing was changed"));
    case TransferRunner::Outcome::Failed:
        if (refusedAsBusy(runner.errorText()))
            throw ToolError(runner.errorText());
        throw ToolError(QLatin1String(kSafetyCopyFailed) + runner.errorText());
    }
    say(QStringLiteral("Safety copy: %1").arg(path));
    SafetyCopies::prune(library, configuration().safetyCopyLimit());
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
    if (verificationSkipped(request))
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
    const auto request = newRequest(endpoint(Endpoint::Card, cardPath, Endpoint::WholeCard),
                                    endpoint(Endpoint::ArchiveFile, out, Endpoint::WholeCard, name));
    request->verify = !m_line.noVerify();
    switch (runner.run(request, QStringLiteral("Archiving"))) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*request, out, QStringLiteral("Archived the card %1 to %2.").arg(cardPath, out),
                       QStringLiteral("archive"));
        return ExitSuccess;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(QStringLiteral("archiving cancelled; no archive was written"));
    case TransferRunner::Outcome::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(QStringLiteral("archiving the card failed: %1").arg(runner.errorText()));
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

    const QString library = safetyLibrary();
    if (!library.isEmpty())
        makeSafetyCopy(endpoint(Endpoint::Card, cardPath, Endpoint::WholeCard),
                       SafetyCopies::cardCopyPath(library, cardName, QStringLiteral("before restore")),
                       library);

    TransferRunner runner(showProgress());
    const auto request = newRequest(endpoint(Endpoint::ArchiveFile, archivePath, Endpoint::WholeCard),
                                    endpoint(Endpoint::Card, cardPath, Endpoint::WholeCard));
    request->verify = !m_line.noVerify();
    switch (runner.run(request, QStringLiteral("Restoring"))) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*request, cardPath,
                       QStringLiteral("Restored the card %1 from %2.").arg(cardPath, archivePath),
                       QStringLiteral("card"));
        return ExitSuccess;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(QStringLiteral("restore cancelled; the card %1 is partly restored").arg(cardPath));
    case TransferRunner::Outcome::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(QStringLiteral("restoring the card failed; the card %1 may be partly restored: %2")
                        .arg(cardPath, runner.errorText()));
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
    const auto request = newRequest(endpoint(Endpoint::Card, cardPath, song),
                                    endpoint(Endpoint::ArchiveFile, out, Endpoint::WholeCard, name));
    request->verify = !m_line.noVerify();
    switch (runner.run(request, QStringLiteral("Copying song %1").arg(song + 1))) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*request, out,
                       QStringLiteral("Copied song %1 of %2 to %3.").arg(song + 1).arg(cardPath, out),
                       QStringLiteral("song file"));
        return ExitSuccess;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(QStringLiteral("copy cancelled; no song file was written"));
    case TransferRunner::Outcome::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(QStringLiteral("copying song %1 failed: %2").arg(song + 1).arg(runner.errorText()));
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

    // An empty slot holds nothing worth a copy.
    const QString library = overwritesData ? safetyLibrary() : QString();
    if (!library.isEmpty())
        makeSafetyCopy(
            endpoint(Endpoint::Card, cardPath, song),
            SafetyCopies::songCopyPath(library, cardName, song, oldName, QStringLiteral("before import")),
            library);

    TransferRunner runner(showProgress());
    const auto request =
        newRequest(endpoint(Endpoint::ArchiveFile, songPath, 0), endpoint(Endpoint::Card, cardPath, song));
    request->verify = !m_line.noVerify();
    switch (runner.run(request, QStringLiteral("Copying to slot %1").arg(song + 1))) {
    case TransferRunner::Outcome::Finished:
        reportTransfer(*request, cardPath,
                       QStringLiteral("Copied %1 into slot %2 of %3.")
                           .arg(songPath, QString::number(song + 1), cardPath),
                       QStringLiteral("song"));
        return ExitSuccess;
    case TransferRunner::Outcome::Cancelled:
        throw ToolError(
            QStringLiteral("copy cancelled; song %1 on the card is partly overwritten").arg(song + 1));
    case TransferRunner::Outcome::Failed:
        break;
    }
    if (refusedAsBusy(runner.errorText()))
        throw ToolError(runner.errorText());
    throw ToolError(
        QStringLiteral("copying into slot %1 failed; the song there may be partly overwritten: %2")
            .arg(song + 1)
            .arg(runner.errorText()));
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

    const QString library = safetyLibrary();
    if (!library.isEmpty()) {
        if (all)
            makeSafetyCopy(
                endpoint(Endpoint::Card, cardPath, Endpoint::WholeCard),
                SafetyCopies::cardCopyPath(library, cardName, QStringLiteral("before clearing all songs")),
                library);
        else
            makeSafetyCopy(endpoint(Endpoint::Card, cardPath, only),
                           SafetyCopies::songCopyPath(library, cardName, only, oldName,
                                                      QStringLiteral("before clearing")),
                           library);
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
    VerifyReport report;
    const auto lock = lockCard(path, CardLock::Shared);
    if (mlsdVerifyFile(QFile::encodeName(path).constData(), &report) != 0)
        throw ToolError(QStringLiteral("cannot verify %1: %2").arg(path, libraryText(mlsdGetErrorString())));

    if (m_line.json()) {
        QJsonArray problems;
        for (const VerifyProblem &problem : report.problems) {
            QJsonObject entry;
            entry.insert(QStringLiteral("where"), QString::fromStdString(problem.where));
            entry.insert(QStringLiteral("what"), QString::fromStdString(problem.what));
            problems.append(entry);
        }
        QJsonObject object;
        object.insert(QStringLiteral("ok"), report.problems.empty());
        object.insert(QStringLiteral("problems"), problems);
        writeOut(QJsonDocument(object).toJson(QJsonDocument::Indented));
    } else {
        QString text;
        for (const VerifyProblem &problem : report.problems)
            text += QString::fromStdString(problem.where) + QStringLiteral(": ") +
                    QString::fromStdString(problem.what) + QLatin1Char('\n');
        const int count = int(report.problems.size());
        text += QStringLiteral("%1: %2, %3.\n")
                    .arg(path, verifyKindName(report.kind),
                         count == 0   ? QStringLiteral("no problems found")
                         : count == 1 ? QStringLiteral("1 problem found")
                                      : QStringLiteral("%1 problems found").arg(count));
        writeOut(text.toUtf8());
    }
    return report.problems.empty() ? ExitSuccess : ExitFailure;
}

int CardTool::makeDemo()
{
    const QString folder = m_line.argument(0);
    if (!QDir().mkpath(folder))
        throw ToolError(QStringLiteral("cannot make the folder %1").arg(folder));
    const QString path = QDir(folder).filePath(QStringLiteral("ZOVAZODE.DAT"));
    refuseExisting(path);

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
