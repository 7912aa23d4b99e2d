// The worker side of a transfer: lives in the transfer thread, executes one request per
// RequestEvent with its own SdCard and SongArchive objects (or checks a file), and posts the request's
// progress and outcome back to the SongTransfer that submitted it.
#pragma once

#include "domain/verification.h"
#include "transfer/songtransfer.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ZovaZode {

class SongTransferWorker : public QObject
{
    Q_OBJECT

public:
    class RequestEvent : public QEvent
    {
    public:
        static constexpr QEvent::Type Type = QEvent::User; // 1000

        RequestEvent(std::shared_ptr<SongTransfer::Request> request, SongTransfer *transfer);
        ~RequestEvent() override;

        const std::shared_ptr<SongTransfer::Request> &request() const { return m_request; }
        // Where the reports go.
        SongTransfer *transfer() const { return m_transfer; }

    private:
        std::shared_ptr<SongTransfer::Request> m_request;
        SongTransfer *m_transfer;
    };

    explicit SongTransferWorker(QObject *parent = nullptr);
    ~SongTransferWorker() override;

    bool event(QEvent *event) override;

private:
    // Never throws: every failure ends as an "error" report.
    void execute(const RequestEvent &event) noexcept;
    // False when the request has already been reported as failed.
    bool run(const RequestEvent &event);
    void archiveCard(const RequestEvent &event);
    void restoreCard(const RequestEvent &event);
    void restoreSong(const RequestEvent &event);
    bool archiveSong(const RequestEvent &event);
    // A CheckArchive request: fails on an archive the restore would refuse, named as damaged, and,
    // unless forced, on one whose record says it has changed since it was made.
    void checkArchive(const RequestEvent &event);

    // The read-back of a verified request, once its destination is committed and closed:
    // `readBack` is the destination's verifyWrites(), which throws on a difference. Reports as
    // phase 1; a stop asked for meanwhile leaves the result complete but unchecked, which the
    // request then says.
    void verify(const RequestEvent &event, const QString &path, bool wholeCard,
                const std::function<bool(const VerifyProgress &)> &readBack);

    // The progress callables of SongArchive; true asks the running operation to stop.
    bool reportCardProgress(const RequestEvent &event, int song, int songCount, int done, int total);
    bool reportSongProgress(const RequestEvent &event, int done, int total);
    bool stopRequested(const RequestEvent &event) const;

    void post(const RequestEvent &event, SongTransfer::EventType type);

    // Which progress reports are posted. The library calls back every 10 KiB, about a quarter of
    // a million times for a card; each posted report wakes the user interface. Posted are the
    // first and the last (done == total) of each step (one song in one phase), and between them
    // one when both 1 MiB and 50 ms have passed since the last.
    class ProgressThrottle
    {
    public:
        void restart();
        bool due(int phase, int song, int done, int total);

    private:
        int m_phase = -1;
        int m_song = -1;
        qint64 m_posted = 0;
        QElapsedTimer m_clock;
    };
    ProgressThrottle m_throttle;
};

} // namespace ZovaZode
