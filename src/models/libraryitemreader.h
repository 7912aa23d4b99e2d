// Reads the name and description stored in library files on a thread of its own. A library of a
// thousand files lists at once under its file names, and each stored name replaces its file name
// as it arrives, instead of the window freezing while every header is read.
#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace ZovaZode {

class LibraryItemReader : public QObject
{
    Q_OBJECT

public:
    // What a file turned out to be; `type` takes the values of LibraryDataModel::ItemType.
    struct Result
    {
        QString path;
        int type = 0;
        QString name;
        QString description;
        // What is wrong with a file that cannot be used (type 0), for its tool tip.
        QString problem;
    };

    explicit LibraryItemReader(QObject *parent = nullptr);
    ~LibraryItemReader() override;

    // Reads the file now, on the calling thread: its headers, and its size against where they
    // place its audio (an archive cut short is damaged), never the audio itself.
    static Result read(const QString &path);

    // Reads the file on the reader's thread; `itemsRead` brings the result.
    void request(const QString &path);
    // Drops the requests not yet read (the folder changed).
    void clear();

signals:
    // Results come in batches, at most one per kDeliveryInterval: each batch re-sorts the list.
    void itemsRead(const QVector<ZovaZode::LibraryItemReader::Result> &results);

private:
    static constexpr int kDeliveryInterval = 100; // milliseconds

    void run();
    void scheduleDelivery();
    void deliver();

    QTimer *m_deliveryTimer;
    QElapsedTimer m_sinceDelivery;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<QString> m_requests;
    QVector<Result> m_results;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace ZovaZode

Q_DECLARE_METATYPE(ZovaZode::LibraryItemReader::Result)
