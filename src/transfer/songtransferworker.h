// The worker side of a transfer: lives in the transfer thread, executes one request per
// RequestEvent with its own SdCard and SongArchive objects, and posts the request's progress
// and outcome back to the SongTransfer that submitted it.
#pragma once

#include "transfer/songtransfer.h"

#include <QEvent>
#include <QObject>
#include <QString>

#include <memory>
#include <string>

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

    // Reads back a finished transfer and compares it with its source; throws a
    // std::runtime_error "Verification failed: ..." on a difference.
    void verifyCard(const RequestEvent &event, const QString &cardPath, const QString &archivePath,
                    bool renamed);
    void verifySong(const RequestEvent &event, const QString &cardPath, int cardSong,
                    const QString &archivePath, int archiveSong, bool renamed);
    std::string verificationFailure(const RequestEvent &event) const;

    // The progress callables of SongArchive; true asks the running operation to stop.
    bool reportCardProgress(const RequestEvent &event, int song, int songCount, int done, int total);
    bool reportSongProgress(const RequestEvent &event, int done, int total);
    bool stopRequested(const RequestEvent &event) const;

    void post(const RequestEvent &event, SongTransfer::EventType type);
};

} // namespace ZovaZode
