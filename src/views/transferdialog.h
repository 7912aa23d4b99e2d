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
    // Refreshes the speed and time-left line from the bytes and fraction of the current phase,
    // `elapsedMs` after the phase began; the show timer runs it too.
    void updateRate(qint64 elapsedMs);
    // "12.3 MB/s, about 1 min 20 s left"; empty before a phase has run for a second.
    static QString rateText(qint64 bytes, float fraction, qint64 elapsedMs);
    // "about 45 s left", "about 1 min 20 s left", "about 2 h 5 min left".
    static QString timeLeftText(qint64 seconds);

    bool eventFilter(QObject *watched, QEvent *event) override;

    bool isRunning() const { return m_running; }
    SongTransfer::Request *currentRequest() const { return m_current; }
    QLabel *sourceLabel() const { return m_sourceLabel; }
    QLabel *destinationLabel() const { return m_destinationLabel; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QLabel *rateLabel() const { return m_rateLabel; }
    // 0 while transferring, 1 while reading back what was written.
    int phase() const { return m_phase.number; }
    qint64 phaseBytes() const { return m_phase.bytesBefore + m_phase.songDone; }
    QProgressBar *progressBar() const { return m_progressBar; }
    QDialogButtonBox *buttonBox() const { return m_buttons; }
    QTimer *showTimer() const { return m_showTimer; }
    QTimer *closeTimer() const { return m_closeTimer; }
    ModalEventFilter *modalEventFilter() const { return m_filter; }

private:
    void onStarted(SongTransfer::Request *request);
    void onProgress(int song, float fraction, SongTransfer::Request *request);
    void onFinished(SongTransfer::Request *request);
    void onError(SongTransfer::Request *request);
    void onCancel();
    void endTransfer();
    void followPhase(const SongTransfer::Request *request);
    void countBytes(const SongTransfer::ProgressEvent &report);

    QLabel *m_sourceHeading;
    QLabel *m_destinationHeading;
    QLabel *m_sourceLabel;
    QLabel *m_destinationLabel;
    QLabel *m_statusLabel;
    QLabel *m_rateLabel;
    QProgressBar *m_progressBar;
    QDialogButtonBox *m_buttons;
    bool m_running = false;
    SongTransfer::Request *m_current = nullptr;
    QElapsedTimer m_clock;
    // How far the phase under way (0 the copy, 1 the read-back) has come.
    struct Phase
    {
        int number = 0;
        float fraction = 0.0f;
        QElapsedTimer clock;
        // Audio bytes of the songs finished in this phase, and of the song under way.
        qint64 bytesBefore = 0;
        qint64 songDone = 0;
        qint64 songTotal = 0;
        int song = -1;
    };
    Phase m_phase;
    QTimer *m_showTimer;
    QTimer *m_closeTimer;
    ModalEventFilter *m_filter;
};

} // namespace ZovaZode
