// The transfer thread: owns the one SongTransferWorker, runs its event loop so that requests
// are executed one after another in the order they were submitted, and on destruction lets
// the running request stop at its next progress report and drops the queued ones.
#pragma once

#include <QPointer>
#include <QThread>

namespace ZovaZode {

class SongTransferWorker;

class SongTransferWorkerThread : public QThread
{
    Q_OBJECT

public:
    explicit SongTransferWorkerThread(QObject *parent = nullptr);
    ~SongTransferWorkerThread() override;

    SongTransferWorker *worker() const;

private:
    // Deleted in this thread when it finishes; still here only if the thread never ran.
    QPointer<SongTransferWorker> m_worker;
};

} // namespace ZovaZode
