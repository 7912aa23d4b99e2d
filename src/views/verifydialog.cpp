// VerifyDialog: runs the file check on a worker thread and shows its report.
#include "views/verifydialog.h"

#include "carddata/carddata.h"
#include "carddata/verify.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace ZovaZode {

namespace {

constexpr int kBoldWeight = 75;

QString kindName(VerifyKind kind)
{
    switch (kind) {
    case VerifyKind::Card:
        return VerifyDialog::tr("Card data file");
    case VerifyKind::CardArchive:
        return VerifyDialog::tr("Card archive");
    case VerifyKind::SongFile:
        return VerifyDialog::tr("Song file");
    case VerifyKind::Archive:
        return VerifyDialog::tr("Archive");
    case VerifyKind::Unknown:
        break;
    }
    return VerifyDialog::tr("File");
}

// What the worker thread hands back; the thread's end orders its writes before the reads.
struct Outcome
{
    int status = 1;
    VerifyReport report;
    QString error;
};

} // namespace

VerifyDialog::VerifyDialog(QWidget *parent)
    : QDialog(parent), m_fileLabel(new QLabel(this)), m_summaryLabel(new QLabel(this)),
      m_table(new QTableWidget(0, 2, this)), m_buttons(new QDialogButtonBox(QDialogButtonBox::Close, this))
{
    setWindowTitle(tr("Verify"));
    // One check at a time: a second would have to wait for the first with the window frozen.
    setModal(true);
    m_fileLabel->setWordWrap(true);
    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = m_summaryLabel->font();
    font.setWeight(kBoldWeight);
    m_summaryLabel->setFont(font);
    m_summaryLabel->setWordWrap(true);

    m_table->setHorizontalHeaderLabels({tr("Where"), tr("Problem")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(m_fileLabel);
    layout->addWidget(m_summaryLabel);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &VerifyDialog::reject);
    resize(640, 200);
}

VerifyDialog::~VerifyDialog()
{
    waitForCheck();
}

QString VerifyDialog::summary(int problems)
{
    if (problems == 0)
        return tr("No problems found.");
    if (problems == 1)
        return tr("1 problem found.");
    return tr("%1 problems found.").arg(problems);
}

void VerifyDialog::waitForCheck()
{
    if (!m_thread)
        return;
    m_thread->wait();
    // Its finished signal may still be queued; the thread object goes with the dialog's events.
    m_thread->disconnect(this);
    delete m_thread;
    m_thread = nullptr;
}

void VerifyDialog::verify(const QString &path)
{
    waitForCheck();
    m_path = path;
    m_fileLabel->setText(
        QFileInfo(path).fileName().isEmpty() ? path : tr("Checking %1").arg(QFileInfo(path).fileName()));
    m_fileLabel->setToolTip(path);
    m_summaryLabel->setText(tr("Checking every record, this can take a minute..."));
    m_table->setRowCount(0);
    m_table->hide();
    m_buttons->button(QDialogButtonBox::Close)->setEnabled(false);

    auto outcome = std::make_shared<Outcome>();
    const QByteArray name = QFile::encodeName(path);
    // The library's error text is per thread, so it is read on the thread that failed.
    m_thread = QThread::create([outcome, name] {
        try {
            outcome->status = mlsdVerifyFile(name.constData(), &outcome->report);
            if (outcome->status != 0)
                outcome->error = QString::fromUtf8(mlsdGetErrorString());
        } catch (const std::exception &error) {
            outcome->status = 1;
            outcome->error = QString::fromUtf8(error.what());
        }
    });
    QThread *thread = m_thread;
    connect(thread, &QThread::finished, this, [this, thread, outcome] {
        if (thread != m_thread)
            return;
        m_thread = nullptr;
        thread->deleteLater();
        showReport(outcome->status, outcome->report, outcome->error);
    });
    m_thread->start();
    show();
}

void VerifyDialog::showReport(int status, const VerifyReport &report, const QString &error)
{
    m_buttons->button(QDialogButtonBox::Close)->setEnabled(true);
    const QString fileName = QFileInfo(m_path).fileName();
    if (status != 0) {
        m_fileLabel->setText(fileName);
        m_summaryLabel->setText(tr("Could not check the file: %1").arg(error));
        emit checked();
        return;
    }
    m_fileLabel->setText(tr("%1: %2").arg(kindName(report.kind), fileName));
    const int count = int(report.problems.size());
    m_summaryLabel->setText(summary(count));
    m_table->setRowCount(count);
    for (int row = 0; row < count; ++row) {
        const VerifyProblem &problem = report.problems[size_t(row)];
        m_table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(problem.where)));
        m_table->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(problem.what)));
    }
    m_table->setVisible(count > 0);
    if (count > 0) {
        m_table->resizeRowsToContents();
        resize(width(), qMax(height(), 360));
    }
    emit checked();
}

} // namespace ZovaZode
