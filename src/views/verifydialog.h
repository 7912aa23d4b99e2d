// The window's Verify command: checks a card data file, a card archive or a song file on a
// thread of its own (a whole card takes a while) and lists each problem it finds with where it
// is, or says that there is none.
#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QTableWidget;
class QThread;
struct VerifyReport;

namespace ZovaZode {

class VerifyDialog : public QDialog
{
    Q_OBJECT

public:
    explicit VerifyDialog(QWidget *parent = nullptr);
    // Waits for a check still running: the thread writes into the dialog's report.
    ~VerifyDialog() override;

    // Starts checking `path` and shows the dialog; a check already running is let finish first.
    void verify(const QString &path);

    bool isRunning() const { return m_thread != nullptr; }
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
    void showReport(int status, const VerifyReport &report, const QString &error);
    void waitForCheck();

    QString m_path;
    QLabel *m_fileLabel;
    QLabel *m_summaryLabel;
    QTableWidget *m_table;
    QDialogButtonBox *m_buttons;
    QThread *m_thread = nullptr;
};

} // namespace ZovaZode
