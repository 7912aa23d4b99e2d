// The commands of morv-card. Each one checks what it is given (files, slots, names, the
// user's confirmation) before it touches anything, then does its work through the same
// objects as the window: SdCard and SongArchive for short operations (cardtool.cpp), a transfer
// request on the worker thread for archive, restore and song copies (cardtransfers.cpp).
#pragma once

#include "commandline.h"

#include "transfer/cardcommands.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace ZovaZode {

class Settings;
class TransferRunner;

class CardTool
{
public:
    // The window's settings, shared with it; read only by a command that needs them.
    using SettingsSource = std::function<const Settings &()>;

    CardTool(const CommandLine &line, SettingsSource settings);
    ~CardTool();

    // Runs the command's function from the command table. The exit status; failures are thrown
    // as ToolError, with what the command had done for --json.
    int run();

    // The commands, each the function of one entry of the command table.
    int info();
    int archive();
    int restore();
    int exportSong();
    int importSong();
    int rename();
    int clear();
    int verify();
    int makeDemo();
    int help();

private:
    // Asks on a terminal; without one, --yes must have been given.
    void confirm(const QString &question) const;
    bool showProgress() const;
    // A line on standard output, unless --quiet or --json.
    void say(const QString &text) const;
    // A field of the JSON object the command prints at its end, or with its error.
    void report(const QString &key, const QJsonValue &value) { m_report.insert(key, value); }
    // The end of a command that did its work: the JSON object with --json, else `sentence`.
    void conclude(const QString &sentence) const;
    // The end of a finished transfer: its warnings on standard error, then `done` (with a
    // sentence when the read-back was skipped, naming `what` was not checked), or the JSON
    // object with "verification" and "warnings".
    void reportTransfer(const SongTransfer::Request &request, const QString &done, const QString &what);
    // `verify --all FOLDER`: every archive in the folder and below, one line each.
    int verifyAll(const QString &folder);
    // A killed transfer leaves its temporary file behind; the next write into a folder removes
    // those of that folder and says so, a line on standard error each.
    static void removeAbandonedFiles(const QString &folder);
    // The status of a command the user stopped once what it had done was safe: 128 plus the signal.
    static int interruptedStatus();

    // The songs a clear was given, from `first` to `last`, and why each that was not cleared was not.
    struct ClearedSongs
    {
        int first;
        int last;
        QMap<int, QString> failed;
    };
    // Reads the card's and the song's names and asks before a clear of song `only` (-1: all);
    // the safety copy's target, once the user has said yes.
    CardCommands::Target confirmClear(const QString &cardPath, int only) const;
    // The songs whose records the clear accepts, found before anything is written; each of the
    // others goes into `songs.failed` and is said on standard error.
    QVector<int> clearableSongs(const QString &cardPath, ClearedSongs &songs) const;
    // Clears the `clearable` songs; each that fails goes into `songs.failed` and is said on
    // standard error, and the others are cleared all the same.
    void clearSongs(const QString &cardPath, const QVector<int> &clearable, ClearedSongs &songs) const;
    // The end of a clear: each song cleared or not and why, for --json; the sentence when all were.
    int concludeClear(const ClearedSongs &songs, const QString &sentence);

    // What the command line and the window's settings say about safety copies.
    CardCommands::SafetyPolicy safetyPolicy();
    // Copies what is about to be overwritten (`target`, a whole card or one song) into the
    // safety copies, unless none is wanted; throws, so that nothing is overwritten, when the
    // copy fails.
    void protect(TransferRunner &runner, CardCommands::Target target);

    // Checks on `runner` the archive a restore or a song copy reads, before anything is copied or
    // written for it (CardCommands::checkArchive); throws the refusal of a damaged one, and of one
    // that has changed since it was made unless --force is given.
    void checkArchive(TransferRunner &runner, const SongTransfer::Endpoint &archive,
                      const SongTransfer::Endpoint &card);
    // What the command line and the settings say about how a transfer writes.
    CardCommands::Options transferOptions() const;

    // What a transfer command says: the progress bar's label, and its texts for the end.
    struct TransferTexts
    {
        QString label;
        QString done;      // the sentence of success (a transfer to the card makes its own)
        QString what;      // what was not checked when the read-back was skipped
        QString cancelled; // the refusal of a cancelled transfer
        QString failed;    // the start of the refusal of a failed one, before the error text
        // For a transfer to the card: the same two when it ended before its first write.
        QString cancelledUnwritten;
        QString failedUnwritten;
    };
    // Runs one transfer to its end and reports it; throws its refusal when it did not finish. A
    // signal while the result was read back leaves it complete and unchecked: reported, and the
    // signal's status returned.
    int transfer(TransferRunner &runner, const SongTransfer::Endpoint &source,
                 const SongTransfer::Endpoint &destination, const TransferTexts &texts);
    const CommandLine &m_line;
    SettingsSource m_settings;
    QJsonObject m_report;
    // Of the safety copy and of the transfer, for the JSON object.
    QStringList m_warnings;
};

} // namespace ZovaZode
