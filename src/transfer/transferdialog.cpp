// TransferDialog: progress, outcome and input blocking for one transfer at a time.
#include "transfer/transferdialog.h"

#include "transfer/modaleventfilter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace ZovaZode {

namespace {

constexpr int kBoldWeight = 75;
constexpr int kProgressSteps = 1000;
constexpr int kShowCheckInterval = 200;
constexpr int kCloseDelay = 400;
constexpr int kLabelMinimumWidth = 480;
// Fraction per millisecond below which a transfer takes longer than half a second.
constexpr double kSlowRate = 0.002;

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(kBoldWeight);
    label->setFont(font);
    return label;
}

} // namespace

TransferDialog::TransferDialog(SongTransfer *transfer, QWidget *parent)
    : QDialog(parent), m_sourceHeading(boldLabel(QStringLiteral("Source:"), this)),
      m_destinationHeading(boldLabel(QStringLiteral("Destination:"), this)), m_sourceLabel(new QLabel(this)),
      m_destinationLabel(new QLabel(this)), m_statusLabel(new QLabel(this)),
      m_progressBar(new QProgressBar(this)),
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
    m_statusLabel->setMargin(20);
    m_progressBar->setRange(0, kProgressSteps);
    m_progressBar->setValue(0);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_sourceHeading);
    layout->addWidget(m_sourceLabel);
    layout->addWidget(m_destinationHeading);
    layout->addWidget(m_destinationLabel);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_progressBar);
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
    connect(m_showTimer, &QTimer::timeout, this, [this] { checkVisibility(m_clock.elapsed()); });
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
    if (!isVisible() && isSlow(m_fraction, elapsedMs))
        show();
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
    m_fraction = 0.0f;
    m_progressBar->setValue(0);

    const bool toCard = request->destination.kind == SongTransfer::Endpoint::Card;
    if (request->source.song < 0 && request->destination.song < 0)
        setWindowTitle(toCard ? QStringLiteral("Restoring Card") : QStringLiteral("Archiving Card"));
    else
        setWindowTitle(toCard ? QStringLiteral("Copying Song to Card")
                              : QStringLiteral("Copying Song to Library"));

    m_closeTimer->stop();
    m_showTimer->start();
    m_clock.restart();
}

void TransferDialog::onProgress(int song, float fraction, SongTransfer::Request *request)
{
    m_fraction = fraction;
    if (request && request->source.song < 0)
        m_statusLabel->setText(QStringLiteral("Song # %1").arg(song + 1));
    // The bar ignores values outside its range; a stray fraction must not freeze it.
    const double steps = std::trunc(double(fraction) * kProgressSteps);
    m_progressBar->setValue(int(qBound(0.0, steps, double(kProgressSteps))));
}

void TransferDialog::onFinished()
{
    m_current = nullptr;
    m_fraction = 1.0f;
    m_progressBar->setValue(kProgressSteps);
    m_statusLabel->setText(QStringLiteral("Finished."));
    m_showTimer->stop();
    m_closeTimer->start();
    endTransfer();
}

void TransferDialog::onError(SongTransfer::Request *request)
{
    m_current = nullptr;
    m_showTimer->stop();
    if (request->cancelled.load()) {
        m_statusLabel->setText(QStringLiteral("Cancelled."));
    } else if (request->destination.kind == SongTransfer::Endpoint::Card) {
        m_statusLabel->setText(QStringLiteral("An error occured.\n"
                                              "This may be due to SD card write protection.\n"
                                              "Please check the card and try again."));
    } else {
        m_statusLabel->setText(QStringLiteral("An error occured."));
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
    m_buttons->button(QDialogButtonBox::Ok)->show();
    m_buttons->button(QDialogButtonBox::Cancel)->hide();
    m_filter->remove();
}

} // namespace ZovaZode
