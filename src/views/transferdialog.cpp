// TransferDialog: progress, outcome and input blocking for one transfer at a time.
#include "views/transferdialog.h"

#include "views/modaleventfilter.h"
#include "views/widgetutils.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace ZovaZode {

namespace {

constexpr int kProgressSteps = 1000;
constexpr int kShowCheckInterval = 200;
constexpr int kCloseDelay = 400;
constexpr int kLabelMinimumWidth = 480;
// Fraction per millisecond below which a transfer takes longer than half a second.
constexpr double kSlowRate = 0.002;
// Speed and time left are guesses until a phase has run this long.
constexpr qint64 kRateDelay = 1000;
constexpr double kBytesPerMegabyte = 1000000.0;
const char kVerificationPrefix[] = "Verification failed: ";

} // namespace

TransferDialog::TransferDialog(SongTransfer *transfer, QWidget *parent)
    : QDialog(parent), m_sourceHeading(WidgetUtils::boldLabel(QStringLiteral("Source:"), this)),
      m_destinationHeading(WidgetUtils::boldLabel(QStringLiteral("Destination:"), this)),
      m_sourceLabel(new QLabel(this)), m_destinationLabel(new QLabel(this)), m_statusLabel(new QLabel(this)),
      m_rateLabel(new QLabel(this)), m_progressBar(new QProgressBar(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      m_showTimer(new QTimer(this)), m_closeTimer(new QTimer(this)),
      m_filter(new ModalEventFilter(this, this))
{
    // Paths wrap, but not into a narrow column.
    m_sourceLabel->setWordWrap(true);
    m_destinationLabel->setWordWrap(true);
    m_sourceLabel->setMinimumWidth(kLabelMinimumWidth);
    m_destinationLabel->setMinimumWidth(kLabelMinimumWidth);
    m_statusLabel->setAlignment(Qt::AlignHCenter);
    // A failed verification names the place that differs, which can be a long line.
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setMargin(20);
    m_rateLabel->setAlignment(Qt::AlignHCenter);
    m_progressBar->setRange(0, kProgressSteps);
    m_progressBar->setValue(0);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_sourceHeading);
    layout->addWidget(m_sourceLabel);
    layout->addWidget(m_destinationHeading);
    layout->addWidget(m_destinationLabel);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_rateLabel);
    layout->addStretch(1);
    layout->addWidget(m_buttons);

    m_showTimer->setInterval(kShowCheckInterval);
    m_closeTimer->setInterval(kCloseDelay);
    m_closeTimer->setSingleShot(true);

    connect(transfer, &SongTransfer::started, this, &TransferDialog::onStarted);
    connect(transfer, &SongTransfer::progress, this, &TransferDialog::onProgress);
    connect(transfer, &SongTransfer::finished, this, &TransferDialog::onFinished);
    connect(transfer, &SongTransfer::error, this, &TransferDialog::onError);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &TransferDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &TransferDialog::onCancel);
    connect(m_showTimer, &QTimer::timeout, this, [this] {
        checkVisibility(m_clock.elapsed());
        updateRate(m_phase.clock.elapsed());
    });
    // The byte counts travel in the worker's reports, which the signals do not carry on.
    transfer->installEventFilter(this);
    connect(m_closeTimer, &QTimer::timeout, this, &TransferDialog::close);
}

TransferDialog::~TransferDialog() = default;

QString TransferDialog::describe(const SongTransfer::Endpoint &endpoint)
{
    const bool card = endpoint.kind == SongTransfer::Endpoint::Card;
    if (endpoint.song < 0)
        return (card ? QStringLiteral("Card: ") : QStringLiteral("Archive: ")) + endpoint.path;
    return QStringLiteral("Song ") + QString::number(endpoint.song + 1) +
           (card ? QStringLiteral(" on card: ") : QStringLiteral(" in archive: ")) + endpoint.path;
}

bool TransferDialog::isSlow(float fraction, qint64 elapsedMs)
{
    return double(fraction) / double(elapsedMs) < kSlowRate;
}

void TransferDialog::done(int result)
{
    if (!m_running)
        QDialog::done(result);
}

QSize TransferDialog::sizeHint() const
{
    return QSize(200, 100);
}

void TransferDialog::checkVisibility(qint64 elapsedMs)
{
    if (!isVisible() && isSlow(m_phase.fraction, elapsedMs))
        show();
}

QString TransferDialog::timeLeftText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("about %1 s left").arg(qMax<qint64>(seconds, 0));
    if (seconds < 3600)
        return QStringLiteral("about %1 min %2 s left").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("about %1 h %2 min left").arg(seconds / 3600).arg(seconds / 60 % 60);
}

QString TransferDialog::rateText(qint64 bytes, float fraction, qint64 elapsedMs)
{
    if (elapsedMs < kRateDelay)
        return QString();
    const double seconds = double(elapsedMs) / 1000.0;
    QString text = QStringLiteral("%1 MB/s").arg(double(bytes) / kBytesPerMegabyte / seconds, 0, 'f', 1);
    if (fraction > 0.0f && fraction <= 1.0f) {
        const double left = seconds * (1.0 - double(fraction)) / double(fraction);
        text += QStringLiteral(", ") + timeLeftText(qint64(std::llround(left)));
    }
    return text;
}

void TransferDialog::updateRate(qint64 elapsedMs)
{
    if (m_running)
        m_rateLabel->setText(rateText(phaseBytes(), m_phase.fraction, elapsedMs));
}

bool TransferDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Type(SongTransfer::ProgressEventType)) {
        if (const auto *report = dynamic_cast<const SongTransfer::ProgressEvent *>(event)) {
            if (report->request().get() == m_current)
                countBytes(*report);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TransferDialog::countBytes(const SongTransfer::ProgressEvent &report)
{
    followPhase(m_current);
    // A whole-card transfer counts each song from 0 again.
    if (report.song() != m_phase.song) {
        if (m_phase.song >= 0)
            m_phase.bytesBefore += m_phase.songTotal;
        m_phase.song = report.song();
    }
    m_phase.songDone = qMax(0, report.done());
    m_phase.songTotal = qMax(0, report.total());
}

void TransferDialog::followPhase(const SongTransfer::Request *request)
{
    if (!request || request->phase.load() == m_phase.number)
        return;
    m_phase = Phase();
    m_phase.number = request->phase.load();
    m_phase.clock.start();
    m_progressBar->setValue(0);
    m_rateLabel->clear();
    m_statusLabel->setText(QStringLiteral("Verifying..."));
}

void TransferDialog::onStarted(SongTransfer::Request *request)
{
    m_current = request;
    m_running = true;
    m_buttons->button(QDialogButtonBox::Ok)->hide();
    m_buttons->button(QDialogButtonBox::Cancel)->show();
    m_filter->install();

    m_sourceLabel->setText(describe(request->source));
    m_destinationLabel->setText(describe(request->destination));
    m_statusLabel->setText(QStringLiteral("In progress..."));
    m_phase = Phase();
    m_progressBar->setValue(0);
    m_rateLabel->clear();

    const bool toCard = request->destination.kind == SongTransfer::Endpoint::Card;
    if (request->kind == SongTransfer::Request::Kind::CheckArchive)
        setWindowTitle(QStringLiteral("Checking Archive"));
    else if (request->source.song < 0 && request->destination.song < 0)
        setWindowTitle(toCard ? QStringLiteral("Restoring Card") : QStringLiteral("Archiving Card"));
    else
        setWindowTitle(toCard ? QStringLiteral("Copying Song to Card")
                              : QStringLiteral("Copying Song to Library"));

    m_closeTimer->stop();
    m_showTimer->start();
    m_clock.restart();
    m_phase.clock.start();
}

void TransferDialog::onProgress(int song, float fraction, SongTransfer::Request *request)
{
    if (request && request == m_current)
        followPhase(request);
    m_phase.fraction = fraction;
    if (request && m_phase.number == 0 && request->source.song < 0)
        m_statusLabel->setText(QStringLiteral("Song # %1").arg(song + 1));
    // The bar ignores values outside its range; a stray fraction must not freeze it.
    const double steps = std::trunc(double(fraction) * kProgressSteps);
    m_progressBar->setValue(int(qBound(0.0, steps, double(kProgressSteps))));
}

void TransferDialog::onFinished(SongTransfer::Request *request)
{
    m_current = nullptr;
    m_phase.fraction = 1.0f;
    m_progressBar->setValue(kProgressSteps);
    m_showTimer->stop();
    const bool unchecked = request && request->verification == SongTransfer::Request::Verification::Skipped;
    if (!unchecked) {
        m_statusLabel->setText(QStringLiteral("Finished."));
        m_closeTimer->start();
        endTransfer();
        return;
    }
    // The user asked to stop while the result was read back: it is complete, but nobody checked
    // it, and the window stays until the user has read that.
    m_statusLabel->setText(
        request->destination.kind == SongTransfer::Endpoint::Card
            ? QStringLiteral("Finished without verification.\nThe card was written completely; "
                             "verification was skipped at your request.")
            : QStringLiteral("Finished without verification.\nThe copy was saved under its name; "
                             "verification was skipped at your request."));
    endTransfer();
    if (!isVisible())
        show();
}

void TransferDialog::onError(SongTransfer::Request *request)
{
    m_current = nullptr;
    m_showTimer->stop();
    if (request->cancelled.load()) {
        m_statusLabel->setText(QStringLiteral("Cancelled."));
    } else if (request->errorText.startsWith(QLatin1String(kVerificationPrefix))) {
        m_statusLabel->setText(QStringLiteral("Verification failed: the copy differs from the original.\n") +
                               request->errorText);
    } else if (request->kind == SongTransfer::Request::Kind::CheckArchive) {
        // The archive was found wanting before anything was copied or written.
        m_statusLabel->setText(request->errorText);
    } else {
        // The write-protection hint only where the card itself failed; the reason always.
        const bool card = request->destination.kind == SongTransfer::Endpoint::Card && request->cardFailed;
        m_statusLabel->setText(QStringLiteral("An error occured.") +
                               (card ? QStringLiteral("\nThis may be due to SD card write protection.\n"
                                                      "Please check the card and try again.")
                                     : QString()) +
                               (request->errorText.isEmpty() ? QString() : "\n\n" + request->errorText));
    }
    endTransfer();
    // Nothing else tells the user about a failure, so a transfer that failed before the dialog
    // appeared still shows its outcome.
    if (!isVisible())
        show();
}

void TransferDialog::onCancel()
{
    if (m_current)
        m_current->cancelled.exchange(true);
}

void TransferDialog::endTransfer()
{
    m_running = false;
    m_rateLabel->clear();
    m_buttons->button(QDialogButtonBox::Ok)->show();
    m_buttons->button(QDialogButtonBox::Cancel)->hide();
    m_filter->remove();
}

} // namespace ZovaZode
