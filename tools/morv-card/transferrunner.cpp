// TransferRunner: a transfer request run to its end inside a local event loop.
#include "transferrunner.h"

#include "interruptwatcher.h"
#include "progressbar.h"
#include "transfer/songtransferworkerthread.h"

#include <QEventLoop>

namespace ZovaZode {

TransferRunner::TransferRunner(bool showProgress, QObject *parent)
    : QObject(parent), m_showProgress(showProgress)
{}

TransferRunner::~TransferRunner() = default;

TransferRunner::Outcome TransferRunner::run(const std::shared_ptr<SongTransfer::Request> &request,
                                            const QString &label)
{
    m_errorText.clear();
    ProgressBar bar(m_showProgress);
    QEventLoop loop;
    Outcome outcome = Outcome::Failed;

    // The thread goes before the SongTransfer it reports to: nothing is posted to a dead object.
    auto thread = std::make_unique<SongTransferWorkerThread>();
    SongTransfer transfer(thread->worker());
    thread->start();

    InterruptWatcher interrupts;
    connect(&interrupts, &InterruptWatcher::interruptRequested, this,
            [request]() { request->cancelled.store(true); });
    // A signal before the watcher's notifier could run.
    if (InterruptWatcher::interrupted())
        request->cancelled.store(true);

    const bool wholeCard = request->isWholeCard();
    connect(&transfer, &SongTransfer::progress, this,
            [&](int song, float fraction, SongTransfer::Request *r) {
                // The read-back starts the bar again.
                const QString step = r->phase.load() == 1 ? QStringLiteral("Verifying") : label;
                const QString text =
                    wholeCard ? QStringLiteral("%1 song %2/12").arg(step).arg(song + 1, 2) : step;
                bar.update(double(fraction), text);
            });
    connect(&transfer, &SongTransfer::finished, this, [&](SongTransfer::Request *) {
        bar.update(1.0, wholeCard ? QStringLiteral("%1 song 12/12").arg(label) : label);
        outcome = Outcome::Finished;
        loop.quit();
    });
    connect(&transfer, &SongTransfer::error, this, [&](SongTransfer::Request *r) {
        outcome = r->cancelled.load() ? Outcome::Cancelled : Outcome::Failed;
        loop.quit();
    });

    transfer.submit(request);
    loop.exec();
    bar.finish();
    thread.reset();

    if (outcome != Outcome::Finished) {
        m_errorText = request->errorText;
        if (m_errorText.isEmpty())
            m_errorText = QStringLiteral("the transfer failed");
    }
    return outcome;
}

} // namespace ZovaZode
