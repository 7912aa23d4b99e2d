// Runs the transfers of one morv-card command the way the window does: through CardCommands, as
// SongTransfer::Requests on the transfer worker thread, with this thread's event loop receiving
// their reports. Draws the progress bar and turns Ctrl-C, SIGTERM or a closed terminal (SIGHUP)
// into the running request's cancel flag; each call returns only once the worker has reported the
// end, so whatever the worker tidies up is tidied.
#pragma once

#include "transfer/cardcommands.h"

#include <QEvent>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ZovaZode {

class SongTransferWorkerThread;

class TransferRunner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Finished, Failed, Cancelled };

    // What became of a safety copy: `copy` is null when none was made or asked for.
    struct Protection
    {
        std::shared_ptr<SongTransfer::Request> copy;
        bool refused = false;
        CardCommands::Refusal refusal = CardCommands::Refusal::Failed;
        QString detail;
    };

    explicit TransferRunner(bool showProgress, QObject *parent = nullptr);
    ~TransferRunner() override;

    // label: what the progress bar says ("Archiving", ...).
    Outcome run(const SongTransfer::Endpoint &source, const SongTransfer::Endpoint &destination,
                const CardCommands::Options &options, const QString &label);
    // The check of an archive before a restore or a song copy reads it (CardCommands::checkArchive).
    Outcome check(const SongTransfer::Endpoint &archive, const SongTransfer::Endpoint &card, bool force,
                  const QString &label);
    // The safety copy that CardCommands::protect() makes of `target`, run to its end.
    Protection protect(const CardCommands::SafetyPolicy &policy, const CardCommands::Target &target,
                       const QString &label);

    // The command's lock, which every request carries from now on (CardCommands::holdCard).
    void holdCard(std::shared_ptr<CardLock> lock) { m_commands->holdCard(std::move(lock)); }

    // The last request run, and the text of the failure that ended it (empty after success).
    const std::shared_ptr<SongTransfer::Request> &request() const { return m_request; }
    const QString &errorText() const { return m_errorText; }

protected:
    // Counts the bytes of the running request from the worker's reports, which the progress
    // signal does not carry.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs `start`, which submits a request and returns it (or null for none), once the signals
    // that end a command are caught, and waits for that request's end.
    Outcome runToEnd(const std::function<std::shared_ptr<SongTransfer::Request>()> &start,
                     const QString &label);
    // Draws the progress of `request` until the worker reports its end, and says which end.
    Outcome waitForEnd(SongTransfer::Request *request, const QString &label);

    bool m_showProgress;
    std::unique_ptr<SongTransfer> m_transfer;
    std::unique_ptr<CardCommands> m_commands;
    // Declared after the SongTransfer it reports to, so destroyed before it: nothing is posted
    // to a dead object.
    std::unique_ptr<SongTransferWorkerThread> m_thread;
    std::shared_ptr<SongTransfer::Request> m_request;
    QString m_errorText;

    // The bytes moved in the running request's phase: whole songs before the current one, and
    // how far the current one is. A whole-card transfer counts each song from 0 again.
    struct ByteCount
    {
        int phase = 0;
        int song = -1;
        qint64 before = 0;
        qint64 done = 0;
        qint64 total = 0;
    };
    ByteCount m_bytes;
};

} // namespace ZovaZode
