// VerifyDialog: submits the file check to the transfer worker and shows its report.
#include "views/verifydialog.h"

#include "domain/filecheck.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworkerthread.h"
#include "views/widgetutils.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

QString kindName(FileCheck::Kind kind)
{
    switch (kind) {
    case FileCheck::Kind::Card:
        return VerifyDialog::tr("Card data file");
    case FileCheck::Kind::CardArchive:
        return VerifyDialog::tr("Card archive");
    case FileCheck::Kind::SongFile:
        return VerifyDialog::tr("Song file");
    case FileCheck::Kind::Archive:
        return VerifyDialog::tr("Archive");
    case FileCheck::Kind::Unknown:
        break;
    }
    return VerifyDialog::tr("File");
}

} // namespace

VerifyDialog::VerifyDialog(SongTransferWorker *worker, QWidget *parent)
    : QDialog(parent), m_fileLabel(new QLabel(this)), m_summaryLabel(new QLabel(this)),
      m_table(new QTableWidget(0, 2, this)), m_buttons(new QDialogButtonBox(QDialogButtonBox::Close, this))
{
    setWindowTitle(tr("Verify"));
    // One check at a time: a second would only wait on the worker for the first to end.
    setModal(true);
    m_fileLabel->setWordWrap(true);
    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    WidgetUtils::makeBold(m_summaryLabel);
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

    if (!worker) {
        m_thread = new SongTransferWorkerThread(this);
        m_thread->start();
        worker = m_thread->worker();
    }
    m_transfer = new SongTransfer(worker, this);
    connect(m_transfer, &SongTransfer::finished, this, [this](SongTransfer::Request *request) {
        if (request != m_running.get())
            return;
        m_running.reset();
        showReport(request->check);
    });
    connect(m_transfer, &SongTransfer::error, this, [this](SongTransfer::Request *request) {
        if (request != m_running.get())
            return;
        m_running.reset();
        showFailure(request->errorText);
    });
}

VerifyDialog::~VerifyDialog()
{
    // Lets the running check end before its SongTransfer goes.
    delete m_thread;
}

QString VerifyDialog::summary(int problems)
{
    if (problems == 0)
        return tr("No problems found.");
    if (problems == 1)
        return tr("1 problem found.");
    return tr("%1 problems found.").arg(problems);
}

void VerifyDialog::verify(const QString &path)
{
    m_path = path;
    m_fileLabel->setText(
        QFileInfo(path).fileName().isEmpty() ? path : tr("Checking %1").arg(QFileInfo(path).fileName()));
    m_fileLabel->setToolTip(path);
    m_summaryLabel->setText(tr("Checking every record, this can take a minute..."));
    m_table->setRowCount(0);
    m_table->hide();
    m_buttons->button(QDialogButtonBox::Close)->setEnabled(false);

    m_running = SongTransfer::Request::checkFile(path);
    m_transfer->submit(m_running);
    show();
}

void VerifyDialog::showFailure(const QString &error)
{
    m_buttons->button(QDialogButtonBox::Close)->setEnabled(true);
    m_fileLabel->setText(QFileInfo(m_path).fileName());
    m_summaryLabel->setText(tr("Could not check the file: %1").arg(error));
    emit checked();
}

void VerifyDialog::showReport(const FileCheck &check)
{
    m_buttons->button(QDialogButtonBox::Close)->setEnabled(true);
    const QString fileName = QFileInfo(m_path).fileName();
    m_fileLabel->setText(tr("%1: %2").arg(kindName(check.kind), fileName));
    const int count = check.problems.size();
    QString text = summary(count);
    const QString record = check.recordText(); // of an archive: how it compares with how it was made
    if (!record.isEmpty())
        text += QLatin1Char('\n') + record.at(0).toUpper() + record.mid(1) + QLatin1Char('.');
    m_summaryLabel->setText(text);
    m_table->setRowCount(count);
    for (int row = 0; row < count; ++row) {
        const FileCheck::Problem &problem = check.problems.at(row);
        m_table->setItem(row, 0, new QTableWidgetItem(problem.where));
        m_table->setItem(row, 1, new QTableWidgetItem(problem.what));
    }
    m_table->setVisible(count > 0);
    if (count > 0) {
        m_table->resizeRowsToContents();
        resize(width(), qMax(height(), 360));
    }
    emit checked();
}

} // namespace ZovaZode
