// Runs one archive, restore or song copy the way the window does: as a SongTransfer::Request
// on the transfer worker thread, with this thread's event loop receiving its reports. Draws
// the progress bar and turns Ctrl-C or SIGTERM into the request's cancel flag; returns only
// once the worker has reported the end, so whatever the worker tidies up is tidied.
#pragma once

#include "transfer/songtransfer.h"

#include <QObject>
#include <QString>

#include <memory>

namespace ZovaZode {

class TransferRunner : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Finished, Failed, Cancelled };

    explicit TransferRunner(bool showProgress, QObject *parent = nullptr);
    ~TransferRunner() override;

    // label: what the progress bar says ("Archiving", ...).
    Outcome run(const std::shared_ptr<SongTransfer::Request> &request, const QString &label);

    // The text of the failure that ended the last run; empty after success.
    const QString &errorText() const { return m_errorText; }

private:
    bool m_showProgress;
    QString m_errorText;
};

} // namespace ZovaZode
