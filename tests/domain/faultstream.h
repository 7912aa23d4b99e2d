// A stream opener for tests that wraps the library's file streams and can make their
// commits or writes fail, and counts the commits, so that the durability and failure paths
// of the domain objects can be driven. It installs itself for its lifetime.
#pragma once

#include "carddata/stream.h"

#include <memory>
#include <string>

namespace ZovaZode {

class FaultStreams
{
public:
    struct Control
    {
        bool failCommit = false;
        bool failWrite = false;
        int commits = 0;
    };

    FaultStreams() : m_control(std::make_shared<Control>())
    {
        carddata::setStreamOpener([control = m_control](const std::string &path, carddata::OpenMode mode) {
            std::unique_ptr<carddata::Stream> file = carddata::openFileStream(path, mode);
            if (!file)
                return std::unique_ptr<carddata::Stream>();
            return std::unique_ptr<carddata::Stream>(new Faulty(std::move(file), control));
        });
    }
    ~FaultStreams() { carddata::setStreamOpener({}); }

    FaultStreams(const FaultStreams &) = delete;
    FaultStreams &operator=(const FaultStreams &) = delete;

    Control &control() { return *m_control; }

private:
    class Faulty : public carddata::Stream
    {
    public:
        Faulty(std::unique_ptr<carddata::Stream> file, std::shared_ptr<Control> control)
            : m_file(std::move(file)), m_control(std::move(control))
        {}

        bool seek(int64_t position) override { return m_file->seek(position); }
        size_t read(void *buffer, size_t size) override { return m_file->read(buffer, size); }
        size_t write(const void *buffer, size_t size) override
        {
            return m_control->failWrite ? 0 : m_file->write(buffer, size);
        }
        int64_t size() override { return m_file->size(); }
        bool flush() override { return m_file->flush(); }
        bool commit() override
        {
            ++m_control->commits;
            return !m_control->failCommit && m_file->commit();
        }
        bool dropCache(int64_t position, int64_t size) override { return m_file->dropCache(position, size); }
        bool close() override { return m_file->close(); }

    private:
        std::unique_ptr<carddata::Stream> m_file;
        std::shared_ptr<Control> m_control;
    };

    std::shared_ptr<Control> m_control;
};

} // namespace ZovaZode
