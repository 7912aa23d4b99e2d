// The window's Verify command: checks a card data file, a card archive or a song file on the
// transfer worker (a whole card takes a while) and lists each problem it finds with where it is,
// or says that there is none.
#pragma once

#include "transfer/songtransfer.h"

#include <QDialog>
#include <QString>

#include <memory>

class QDialogButtonBox;
class QLabel;
class QTableWidget;

namespace ZovaZode {

class SongTransferWorker;
class SongTransferWorkerThread;

class VerifyDialog : public QDialog
{
    Q_OBJECT

public:
    // The checks run on `worker`, which must stop before the dialog goes; without one the dialog
    // starts a transfer thread of its own.
    explicit VerifyDialog(SongTransferWorker *worker = nullptr, QWidget *parent = nullptr);
    ~VerifyDialog() override;

    // Starts checking `path` and shows the dialog; a check already running is let finish first,
    // and only the last one is shown.
    void verify(const QString &path);

    bool isRunning() const { return bool(m_running); }
    const QString &path() const { return m_path; }
    QLabel *fileLabel() const { return m_fileLabel; }
    QLabel *summaryLabel() const { return m_summaryLabel; }
    QTableWidget *problemTable() const { return m_table; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }

    // "1 problem found." and so on; "No problems found." for none.
    static QString summary(int problems);

signals:
    void checked();

private:
    void showReport(const FileCheck &check);
    void showFailure(const QString &error);

    QString m_path;
    QLabel *m_fileLabel;
    QLabel *m_summaryLabel;
    QTableWidget *m_table;
    QDialogButtonBox *m_buttons;
    // Only with no worker given; stopped before the SongTransfer it reports to goes.
    SongTransferWorkerThread *m_thread = nullptr;
    SongTransfer *m_transfer = nullptr;
    // The check whose report the dialog waits for; an earlier one's is not shown.
    std::shared_ptr<SongTransfer::Request> m_running;
};

} // namespace ZovaZode
