// The progress window of the running transfer. It follows the SongTransfer's signals on its
// own: it appears only when a transfer is slow enough to need it, keeps user input away from
// the other windows while the transfer runs, offers Cancel, reports the outcome and closes
// itself shortly after a success.
#pragma once

#include "transfer/songtransfer.h"

#include <QDialog>
#include <QElapsedTimer>

class QDialogButtonBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace ZovaZode {

class ModalEventFilter;

class TransferDialog : public QDialog
{
public:
    TransferDialog(SongTransfer *transfer, QWidget *parent = nullptr);
    ~TransferDialog() override;

    // "Card: path", "Song 5 in archive: path" and so on.
    static QString describe(const SongTransfer::Endpoint &endpoint);
    // Whether a transfer at `fraction` after `elapsedMs` is on course to take more than half a
    // second.
    static bool isSlow(float fraction, qint64 elapsedMs);

    // While a transfer runs, OK, Escape and the window's close button leave the dialog open.
    void done(int result) override;
    QSize sizeHint() const override;

    // The check the show timer runs, with the time since the start.
    void checkVisibility(qint64 elapsedMs);

    bool isRunning() const { return m_running; }
    SongTransfer::Request *currentRequest() const { return m_current; }
    QLabel *sourceLabel() const { return m_sourceLabel; }
    QLabel *destinationLabel() const { return m_destinationLabel; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QProgressBar *progressBar() const { return m_progressBar; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }
    QTimer *showTimer() const { return m_showTimer; }
    QTimer *closeTimer() const { return m_closeTimer; }
    ModalEventFilter *modalEventFilter() const { return m_filter; }

private:
    void onStarted(SongTransfer::Request *request);
    void onProgress(int song, float fraction, SongTransfer::Request *request);
    void onFinished();
    void onError(SongTransfer::Request *request);
    void onCancel();
    void endTransfer();

    QLabel *m_sourceHeading;
    QLabel *m_destinationHeading;
    QLabel *m_sourceLabel;
    QLabel *m_destinationLabel;
    QLabel *m_statusLabel;
    QProgressBar *m_progressBar;
    QDialogButtonBox *m_buttons;
    bool m_running = false;
    SongTransfer::Request *m_current = nullptr;
    float m_fraction = 0.0f;
    QElapsedTimer m_clock;
    QTimer *m_showTimer;
    QTimer *m_closeTimer;
    ModalEventFilter *m_filter;
};

} // namespace ZovaZode
