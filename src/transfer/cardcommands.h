// CardCommands: the protocol behind the commands that copy songs and cards, shared by the window
// and morv-card. It submits transfer requests, keeps each one alive until its outcome has been
// handed on, and runs the safety-copy protocol: before an operation overwrites card data, what
// it overwrites is copied into the card library's "Safety Copies" folder, and only a copy that
// was made (and, when asked, read back) lets the operation run; the oldest copies beyond the
// limit are pruned after each new one. The front ends only word the outcomes.
#pragma once

#include "transfer/songtransfer.h"

#include <QDateTime>
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
        // How many copies to keep; asked only once a copy has been made.
        std::function<int()> limit;
        // Read the copy back before trusting it.
        bool verify = true;

        // The window's settings (copies on unless turned off there) for the card library `library`.
        static SafetyPolicy fromConfiguration(const QString &library);
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

    // How a request runs: `verify` reads the result back; `writeAll` (or the setting) writes every
    // byte to the card; `force` restores an archive that changed since it was made; `recordCard`
    // (a safety copy) keeps what it reads of the card for the request that writes it next.
    struct Options
    {
        bool verify = true;
        bool writeAll = false;
        bool force = false;
        bool recordCard = false;
    };

    // Submits a request from `source` to `destination`. A request that writes the card right after
    // its safety copy is handed what the copy read of it.
    std::shared_ptr<Request> submit(const Endpoint &source, const Endpoint &destination, bool verify = true);
    std::shared_ptr<Request> submit(const Endpoint &source, const Endpoint &destination,
                                    const Options &options);
    // Submits `refused` (a restore refused because its archive changed since it was made) again,
    // forced, once the user has said to go on.
    std::shared_ptr<Request> restoreAnyway(const Request &refused);

    // Runs `operation` once a safety copy of `target` is in place, at once when `policy` makes
    // none, and never when the copy cannot be made (safetyCopyRefused() says why). Returns the
    // copy's request while it runs, else null.
    std::shared_ptr<Request> protect(const SafetyPolicy &policy, const Target &target,
                                     std::function<void()> operation);

    // The path a safety copy of `target` would get now, for the question that asks first.
    static QString copyPathFor(const SafetyPolicy &policy, const Target &target);

    // The last protected operation of this session, which its safety copy can undo.
    struct Undo
    {
        QString what;
        QString copyPath;
        QString cardPath;
        int slot = Endpoint::WholeCard;
        // The card file as the operation left it: any later change ends the undo.
        QDateTime cardModified;
        qint64 cardSize = -1;
    };
    enum class UndoBlock {
        None,        // the undo can run
        NothingDone, // no protected operation has run in this session
        OtherCard,   // the last one changed another card file
        CardChanged, // the card has changed since
        CopyMissing, // the safety copy is gone
    };
    const Undo &lastUndo() const { return m_undo; }
    UndoBlock undoBlock(const QString &cardPath) const;
    // Copies the last operation's safety copy back onto its card; null when undoBlock() says no.
    std::shared_ptr<Request> undo(const QString &cardPath);

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
    void forget(Request *request);
    void commitUndo();
    std::shared_ptr<Request> kept(Request *request) const;

    struct PendingOperation
    {
        SafetyPolicy policy;
        std::function<void()> operation;
        Undo undo;
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
    // What the last safety copy read of its card, for the request that writes that card next.
    std::shared_ptr<CardContent> m_copiedCard;
};

} // namespace ZovaZode

Q_DECLARE_METATYPE(ZovaZode::CardCommands::Refusal)
