// TransferRunner: transfer requests run to their end inside a local event loop.
#include "transferrunner.h"

#include "interruptwatcher.h"
#include "progressbar.h"
#include "transfer/songtransferworkerthread.h"

#include <QEventLoop>

namespace ZovaZode {

TransferRunner::TransferRunner(bool showProgress, QObject *parent)
    : QObject(parent), m_showProgress(showProgress), m_thread(std::make_unique<SongTransferWorkerThread>())
{
    m_transfer = std::make_unique<SongTransfer>(m_thread->worker());
    m_commands = std::make_unique<CardCommands>(m_transfer.get());
    m_thread->start();
}

TransferRunner::~TransferRunner() = default;

TransferRunner::Outcome TransferRunner::run(const SongTransfer::Endpoint &source,
                                            const SongTransfer::Endpoint &destination, bool verify,
                                            const QString &label)
{
    return runToEnd([&] { return m_commands->submit(source, destination, verify); }, label);
}

TransferRunner::Protection TransferRunner::protect(const CardCommands::SafetyPolicy &policy,
                                                   const CardCommands::Target &target, const QString &label)
{
    Protection protection;
    const auto refused = connect(m_commands.get(), &CardCommands::safetyCopyRefused, this,
                                 [&protection](CardCommands::Refusal refusal, const QString &detail) {
                                     protection.refused = true;
                                     protection.refusal = refusal;
                                     protection.detail = detail;
                                 });
    // The operation is the caller's next step; the copy's end is all there is to wait for.
    runToEnd(
        [&] {
            protection.copy = m_commands->protect(policy, target, [] {});
            return protection.copy;
        },
        label);
    disconnect(refused);
    return protection;
}

TransferRunner::Outcome
TransferRunner::runToEnd(const std::function<std::shared_ptr<SongTransfer::Request>()> &start,
                         const QString &label)
{
    m_errorText.clear();
    // Caught before the request is submitted: the worker may report it started at once, and the
    // default action of the signal would end the program with the card half written.
    InterruptWatcher interrupts;
    std::shared_ptr<SongTransfer::Request> request;
    connect(&interrupts, &InterruptWatcher::interruptRequested, this, [&request]() {
        if (request)
            request->cancelled.store(true);
    });
    request = start();
    m_request = request;
    if (!request)
        return Outcome::Finished;
    // A signal before the watcher's notifier could run.
    if (InterruptWatcher::interrupted())
        request->cancelled.store(true);

    ProgressBar bar(m_showProgress);
    QEventLoop loop;
    Outcome outcome = Outcome::Failed;

    // Ends with this call, so that no report of a later request reaches these handlers.
    QObject scope;
    const bool wholeCard = request->isWholeCard();
    connect(m_transfer.get(), &SongTransfer::progress, &scope,
            [&](int song, float fraction, SongTransfer::Request *r) {
                if (r != request.get())
                    return;
                // The read-back starts the bar again.
                const QString step = r->phase.load() == 1 ? QStringLiteral("Verifying") : label;
                const QString text =
                    wholeCard ? QStringLiteral("%1 song %2/12").arg(step).arg(song + 1, 2) : step;
                bar.update(double(fraction), text);
            });
    connect(m_transfer.get(), &SongTransfer::finished, &scope, [&](SongTransfer::Request *r) {
        if (r != request.get())
            return;
        bar.update(1.0, wholeCard ? QStringLiteral("%1 song 12/12").arg(label) : label);
        outcome = Outcome::Finished;
        loop.quit();
    });
    connect(m_transfer.get(), &SongTransfer::error, &scope, [&](SongTransfer::Request *r) {
        if (r != request.get())
            return;
        outcome = r->cancelled.load() ? Outcome::Cancelled : Outcome::Failed;
        loop.quit();
    });

    loop.exec();
    bar.finish();

    if (outcome != Outcome::Finished) {
        m_errorText = request->errorText;
        if (m_errorText.isEmpty())
            m_errorText = QStringLiteral("the transfer failed");
    }
    return outcome;
}

} // namespace ZovaZode
