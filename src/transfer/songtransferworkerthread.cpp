// SongTransferWorkerThread: the thread in which every transfer request runs.
#include "transfer/songtransferworkerthread.h"

#include "transfer/songtransferworker.h"

namespace ZovaZode {

SongTransferWorkerThread::SongTransferWorkerThread(QObject *parent)
    : QThread(parent), m_worker(new SongTransferWorker)
{
    m_worker->moveToThread(this);
    connect(this, &QThread::finished, m_worker, &QObject::deleteLater);
}

SongTransferWorkerThread::~SongTransferWorkerThread()
{
    exit(0);
    requestInterruption();
    wait();
    // A thread that never ran never delivered the deferred delete.
    delete m_worker.data();
}

SongTransferWorker *SongTransferWorkerThread::worker() const
{
    return m_worker;
}

} // namespace ZovaZode
