// CardCommands: the protocol behind the commands that copy songs and cards, shared by the window
// and morv-card. It submits transfer requests, keeps each one alive until its outcome has been
// handed on, and runs the safety-copy protocol: before an operation overwrites card data, what
// it overwrites is copied into the card library's "Safety Copies" folder, and only a copy that
// was made (and, when asked, read back) lets the operation run; the oldest copies beyond the
// limit are pruned after each new one. The front ends only word the outcomes.
//
// A protected command holds the card's exclusive lock (CardLock::forCommand) from its safety
// copy to its end: the copy and every request the command submits carry it to the worker, and
// the command's own steps on this thread run with it (CardLock::Use). When the command ends,
// still under the lock, the card's records are hashed (SdCard::recordsDigest); Undo hashes them
// again under a lock of its own and puts the copy back only when nothing changed since. The same
// lock is what lets the restore after a copy trust what the copy read of the card (the digest of
// each piece) and leave out the writes the card holds already.
//
// A restore or a song copy onto a slot checks its archive first (checkArchive()), before the
// question of its safety copy even arises: a damaged archive never costs a copy.
#pragma once

#include "domain/sdcard.h"
#include "transfer/songtransfer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

namespace ZovaZode {

class CardCommands : public QObject
{
    Q_OBJECT

public:
    using Request = SongTransfer::Request;
    using Endpoint = SongTransfer::Endpoint;

    // Whether safety copies are made, where, and how many are kept.
    struct SafetyPolicy
    {
        bool enabled = true;
        // The card library; the copies go to its "Safety Copies" folder.
        QString library;
        // How many copies to keep (SafetyCopies::DefaultLimit when empty); asked only once a copy
        // has been made.
        std::function<int()> limit;
        // Read the copy back before trusting it.
        bool verify = true;
    };

    // What an operation is about to overwrite: the whole card or one slot, with the names that go
    // into the copy's file name and why it is made ("before restore", ...).
    struct Target
    {
        QString cardPath;
        QString cardName;
        int slot = Endpoint::WholeCard;
        QString songName;
        QString occasion;
        // What the operation does, as the Undo command names it ("Clear Song 3").
        QString what;
        // Where the copy goes; a free name is chosen when empty or taken by then.
        QString copyPath;
        // Runs just before the copy is submitted and may bring the names up to date (the window
        // writes its edited header there, so that the copy holds it).
        std::function<void(Target &)> beforeCopy;
    };

    // Why an operation did not run.
    enum class Refusal {
        NoFolder,  // the "Safety Copies" folder cannot be made; detail: why
        Failed,    // the copy failed; detail: the transfer's error text
        Cancelled, // the copy was cancelled
        Unchecked, // cancelled while it was read back: kept, unchecked; detail: its path
    };

    // `transfer` must outlive this object. Connect the progress dialog to it before creating
    // this object, so that it hears each outcome first.
    explicit CardCommands(SongTransfer *transfer, QObject *parent = nullptr);
    ~CardCommands() override;

    SongTransfer *transfer() const { return m_transfer; }

    // How a request runs: `verify` reads the result back; `writeAll` writes every byte to the card,
    // also what it holds already; `recordCard` (a safety copy) keeps what it reads of the card for
    // the request that writes it next.
    struct Options
    {
        bool verify = true;
        bool writeAll = false;
        bool recordCard = false;
    };

    // Submits a request from `source` to `destination`. A request that writes the card right after
    // its safety copy, under the same command lock, is handed what the copy read of it.
    std::shared_ptr<Request> submit(const Endpoint &source, const Endpoint &destination,
                                    const Options &options);
    std::shared_ptr<Request> submit(const Endpoint &source, const Endpoint &destination)
    {
        return submit(source, destination, Options());
    }
    // Checks the archive `archive` (a card archive, or the song `archive.song` of a song file)
    // before anything is copied or written for it: what a restore checks of it before its first
    // write, then, unless `force`, the file against the record of how it was made. The request
    // fails with "The archive "NAME" is damaged: ..." or, with `archiveChanged`, with how it has
    // changed. `destination` (the card it is for) is only shown.
    std::shared_ptr<Request> checkArchive(const Endpoint &archive, const Endpoint &destination,
                                          bool force = false);

    // Runs `operation` once a safety copy of `target` is in place, at once when `policy` makes
    // none, and never when the copy cannot be made (safetyCopyRefused() says why). Either way the
    // operation runs under the card's lock, which stays held until a request it submits has
    // ended. Returns the copy's request while it runs, else null.
    std::shared_ptr<Request> protect(const SafetyPolicy &policy, const Target &target,
                                     std::function<void()> operation);

    // The path a safety copy of `target` would get now, for the question that asks first.
    static QString copyPathFor(const SafetyPolicy &policy, const Target &target);

    // A command lock its caller holds for all its steps (morv-card takes it before the safety
    // copy): protect() uses it, and every request submitted while it is set carries it. Null
    // ends it.
    void holdCard(std::shared_ptr<CardLock> lock) { m_held = std::move(lock); }

    // The last protected operation of this session, which its safety copy can undo.
    struct Undo
    {
        QString what;
        QString copyPath;
        QString cardPath;
        int slot = Endpoint::WholeCard;
        // The card's records as the operation left them, read under its lock; empty when they
        // could not be read. Any later change ends the undo.
        QVector<SdCard::RecordDigest> cardRecords;
    };
    enum class UndoBlock {
        None,        // the undo can run
        NothingDone, // no protected operation has run in this session
        OtherCard,   // the last one changed another card file
        CardChanged, // the card has changed since; detail: what changed ("the card's name, song 3")
        CopyMissing, // the safety copy is gone
        CardBusy,    // another program holds the card; detail: the lock's refusal
    };
    // Reading and hashing the card's records (about 2 MB) is for the moments the user can act on
    // the answer, not for every selection change.
    enum class UndoCheck {
        WithoutReading, // the card is taken to hold the records the operation left
        ReadingCard,    // the card's records now are compared with those
    };
    const Undo &lastUndo() const { return m_undo; }
    // `detail` as above.
    UndoBlock undoBlock(const QString &cardPath, QString *detail = nullptr,
                        UndoCheck check = UndoCheck::ReadingCard) const;
    // Copies the last operation's safety copy back onto its card, under the card's lock, taken
    // before the records are compared and held until the copy is back; null when it may not,
    // with why in `block` and `detail`.
    std::shared_ptr<Request> undo(const QString &cardPath, UndoBlock *block = nullptr,
                                  QString *detail = nullptr);

    // Whether a request has been submitted and its outcome not yet handed on.
    bool hasTransfers() const { return !m_transfers.empty(); }
    // Asks every submitted request to stop and drops the operations waiting for a safety copy;
    // transfersDone() follows once the worker has let go of them all.
    void cancelTransfers();

signals:
    // A finished request (safety copies among them) noted something about the records it copied;
    // emitted before anything follows from it.
    void warned(ZovaZode::SongTransfer::Request *request);
    // The outcome of a request other than a safety copy.
    void finished(ZovaZode::SongTransfer::Request *request);
    void failed(ZovaZode::SongTransfer::Request *request);
    // A safety copy is in place; its operation runs next, after the folder is pruned.
    void safetyCopyMade(ZovaZode::SongTransfer::Request *request);
    void safetyCopyRefused(ZovaZode::CardCommands::Refusal refusal, const QString &detail);
    void transfersDone();
    // An operation became undoable, or the undo was used.
    void undoChanged();

private:
    void onFinished(Request *request);
    void onFailed(Request *request);
    // Hands a finished or failed safety copy on; false when `request` is not one.
    bool settleSafetyCopy(Request *request, bool finished);
    // Reads the card's records for Undo after the last step of a protected command, and drops
    // the command's lock unless a finished safety copy hands it on to its operation.
    void endStep(Request *request, bool finished);
    void forget(Request *request);
    void commitUndo();
    std::shared_ptr<Request> kept(Request *request) const;
    std::shared_ptr<Request> submitted(const std::shared_ptr<Request> &request);
    // Runs `operation` on this thread under `lock`, which every request it submits carries.
    void runUnder(const std::shared_ptr<CardLock> &lock, const std::function<void()> &operation);

    struct PendingOperation
    {
        SafetyPolicy policy;
        std::function<void()> operation;
        Undo undo;
        std::shared_ptr<CardLock> lock;
    };

    SongTransfer *m_transfer;
    // Every request submitted whose outcome has not been handed on yet.
    std::map<const Request *, std::shared_ptr<Request>> m_transfers;
    // The operations waiting for their safety copy, by the copy's request.
    std::map<const Request *, PendingOperation> m_pending;
    Undo m_undo;
    // The operation that runs after its copy, until it is done: armed with its undo.
    Undo m_armed;
    const Request *m_armedRequest = nullptr;
    const Request *m_lastSubmitted = nullptr;
    // What the last safety copy read of its card and the lock it was read under, for the request
    // that writes that card next.
    struct Copied
    {
        std::shared_ptr<CardContent> content;
        std::weak_ptr<CardLock> lock; // not kept: it ends with its command
    };
    Copied m_copied;
    // The lock requests submitted now carry: the running step's, else the caller's (holdCard()).
    std::shared_ptr<CardLock> m_lending;
    std::shared_ptr<CardLock> m_held;
};

} // namespace ZovaZode

Q_DECLARE_METATYPE(ZovaZode::CardCommands::Refusal)
