// TransferRunner: transfer requests run to their end inside a local event loop.
#include "transferrunner.h"

#include "domain/interruptwatcher.h"
#include "progressbar.h"
#include "transfer/songtransferworkerthread.h"

#include <QEventLoop>

#include <algorithm>

namespace ZovaZode {

TransferRunner::TransferRunner(bool showProgress, QObject *parent)
    : QObject(parent), m_showProgress(showProgress), m_thread(std::make_unique<SongTransferWorkerThread>())
{
    m_transfer = std::make_unique<SongTransfer>(m_thread->worker());
    m_commands = std::make_unique<CardCommands>(m_transfer.get());
    m_transfer->installEventFilter(this);
    m_thread->start();
}

TransferRunner::~TransferRunner() = default;

bool TransferRunner::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Type(SongTransfer::ProgressEventType)) {
        const auto *report = dynamic_cast<const SongTransfer::ProgressEvent *>(event);
        if (report && report->request() == m_request) {
            if (m_request->phase.load() != m_bytes.phase)
                m_bytes = ByteCount{m_request->phase.load(), -1, 0, 0, 0};
            if (report->song() != m_bytes.song) {
                if (m_bytes.song >= 0)
                    m_bytes.before += m_bytes.total;
                m_bytes.song = report->song();
            }
            m_bytes.done = std::max(0, report->done());
            m_bytes.total = std::max(0, report->total());
        }
    }
    return QObject::eventFilter(watched, event);
}

TransferRunner::Outcome TransferRunner::run(const SongTransfer::Endpoint &source,
                                            const SongTransfer::Endpoint &destination,
                                            const CardCommands::Options &options, const QString &label)
{
    return runToEnd([&] { return m_commands->submit(source, destination, options); }, label);
}

TransferRunner::Outcome TransferRunner::check(const SongTransfer::Endpoint &archive,
                                              const SongTransfer::Endpoint &card, bool force,
                                              const QString &label)
{
    return runToEnd([&] { return m_commands->checkArchive(archive, card, force); }, label);
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
    m_bytes = ByteCount();
    request = start();
    m_request = request;
    if (!request)
        return Outcome::Finished;
    // A signal before the watcher's notifier could run.
    if (InterruptWatcher::interrupted())
        request->cancelled.store(true);

    const Outcome outcome = waitForEnd(request.get(), label);
    if (outcome != Outcome::Finished) {
        m_errorText = request->errorText;
        if (m_errorText.isEmpty())
            m_errorText = QStringLiteral("the transfer failed");
    }
    return outcome;
}

TransferRunner::Outcome TransferRunner::waitForEnd(SongTransfer::Request *request, const QString &label)
{
    ProgressBar bar(m_showProgress);
    QEventLoop loop;
    Outcome outcome = Outcome::Failed;

    // Ends with this call, so that no report of a later request reaches these handlers.
    QObject scope;
    const bool wholeCard = request->kind == SongTransfer::Request::Kind::Copy && request->isWholeCard();
    int phase = 0;
    // `shown`: the song as the user counts them, 1 to 12.
    const auto text = [&](int shown) {
        const QString step = phase == 1 ? QStringLiteral("Verifying") : label;
        return wholeCard ? QStringLiteral("%1 song %2/12").arg(step).arg(shown, 2) : step;
    };
    connect(m_transfer.get(), &SongTransfer::progress, &scope,
            [&](int song, float fraction, SongTransfer::Request *r) {
                if (r != request)
                    return;
                // The read-back starts the bar, and its speed, again.
                if (r->phase.load() != phase) {
                    phase = r->phase.load();
                    bar.restart();
                }
                bar.update(double(fraction), text(song + 1), m_bytes.before + m_bytes.done);
            });
    connect(m_transfer.get(), &SongTransfer::finished, &scope, [&](SongTransfer::Request *r) {
        if (r != request)
            return;
        bar.update(1.0, text(12), m_bytes.before + m_bytes.done);
        outcome = Outcome::Finished;
        loop.quit();
    });
    connect(m_transfer.get(), &SongTransfer::error, &scope, [&](SongTransfer::Request *r) {
        if (r != request)
            return;
        outcome = r->cancelled.load() ? Outcome::Cancelled : Outcome::Failed;
        loop.quit();
    });

    loop.exec();
    bar.finish();
    return outcome;
}

} // namespace ZovaZode
