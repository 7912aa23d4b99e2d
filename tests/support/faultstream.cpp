// Fault injection through the stream layer; see faultstream.h.
#include "faultstream.h"

#include <vector>

namespace ZovaZode::TestSupport {

namespace {

using State = FaultInjector::State;

// A stdio buffer of the size glibc would use. The shipped file stream keeps no buffer; the model
// keeps one, so that the library stays proven against a stream that does.
constexpr size_t kStdioBufferSize = 256 * 1024;

bool kindApplies(FaultKind kind, StreamCall call, carddata::OpenMode mode)
{
    switch (kind) {
    case FaultKind::IoError:
        return true;
    case FaultKind::NoSpace:
        return call == StreamCall::Write || call == StreamCall::Flush || call == StreamCall::Commit ||
               (call == StreamCall::Open && mode != carddata::OpenMode::Read);
    case FaultKind::ShortRead:
        return call == StreamCall::Read;
    case FaultKind::ShortWrite:
        return call == StreamCall::Write;
    }
    return false;
}

// Counts the call and tells whether it must fail.
bool strikes(State &state, StreamCall call, bool onTarget, carddata::OpenMode mode = carddata::OpenMode::Read)
{
    ++state.calls[size_t(call)];
    const unsigned calls = state.target.calls;
    if (!onTarget || !kindApplies(state.kind, call, mode) || (calls != 0 && !(calls & (1u << int(call)))))
        return false;
    const int64_t index = ++state.applicable;
    const bool fail =
        state.failAt > 0 && (state.mode == FaultMode::Once ? index == state.failAt : index >= state.failAt);
    state.injected += fail ? 1 : 0;
    return fail;
}

bool onFile(const State &state, const std::string &path)
{
    const std::string &end = state.target.file;
    return path.size() >= end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0;
}

class FaultyStream final : public carddata::Stream
{
public:
    FaultyStream(std::unique_ptr<carddata::Stream> inner, std::shared_ptr<State> state, std::string path,
                 bool buffered)
        : m_inner(std::move(inner)), m_state(std::move(state)), m_path(std::move(path)), m_buffered(buffered)
    {
        ++m_state->live;
    }
    ~FaultyStream() override { --m_state->live; }

    bool seek(int64_t position) override
    {
        if (strikes(*m_state, StreamCall::Seek, onFile(*m_state, m_path)))
            return lose();
        handOver();
        m_position = position;
        return m_inner->seek(position);
    }

    size_t read(void *buffer, size_t size) override
    {
        if (m_state->observer)
            m_state->observer(m_path, StreamCall::Read, m_position, nullptr, size);
        const bool struck = strikes(*m_state, StreamCall::Read, touches(size));
        if (struck && m_state->kind != FaultKind::ShortRead)
            return lose();
        handOver();
        const size_t got = m_inner->read(buffer, struck ? size / 2 : size);
        m_position += int64_t(got);
        return got;
    }

    size_t write(const void *buffer, size_t size) override
    {
        std::vector<uint8_t> observed;
        if (m_state->observer) {
            observed.assign(static_cast<const uint8_t *>(buffer), static_cast<const uint8_t *>(buffer) + size);
            m_state->observer(m_path, StreamCall::Write, m_position, observed.data(), size);
            buffer = observed.data();
        }
        if (strikes(*m_state, StreamCall::Write, touches(size))) {
            if (m_state->kind != FaultKind::ShortWrite)
                return lose();
            size /= 2;
        }
        if (!m_buffered || m_buffer + size > kStdioBufferSize) {
            handOver(); // too large for the buffer: goes to the file, and the result says so
        } else if (m_state->failAt == 0) {
            // Nothing armed, nothing to lose: copying what every write overwrites is most of a
            // fuzz run's time.
            handOver();
        } else {
            // Sits in the buffer until the next flush: remember what it overwrites.
            std::vector<uint8_t> old(size);
            old.resize(m_inner->seek(m_position) ? m_inner->read(old.data(), size) : 0);
            m_inner->seek(m_position);
            m_overwritten.emplace_back(m_position, std::move(old));
            m_buffer += size;
        }
        const size_t written = m_inner->write(buffer, size);
        m_position += int64_t(written);
        return written;
    }

    int64_t size() override
    {
        handOver();
        return m_inner->size();
    }
    bool flush() override { return handOut(StreamCall::Flush) && m_inner->flush(); }
    bool commit() override { return handOut(StreamCall::Commit) && m_inner->commit(); }
    // Not a call a device fails: it only forgets cached pages.
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }
    bool readFromDevice() override { return m_inner->readFromDevice(); }
    // A failed close still releases the file, as fclose() does.
    bool close() override
    {
        const bool handedOut = handOut(StreamCall::Close);
        return m_inner->close() && handedOut;
    }

private:
    bool touches(size_t size) const
    {
        return onFile(*m_state, m_path) && m_position < m_state->target.to &&
               m_position + int64_t(size) > m_state->target.from;
    }

    // The buffered bytes reach the file, unless the call fails.
    bool handOut(StreamCall call)
    {
        if (strikes(*m_state, call, onFile(*m_state, m_path)))
            return lose();
        handOver();
        return true;
    }
    void handOver()
    {
        m_overwritten.clear();
        m_buffer = 0;
    }
    // The buffered bytes never reach the file: what they overwrote is put back.
    bool lose()
    {
        for (auto it = m_overwritten.rbegin(); it != m_overwritten.rend() && !m_state->keepBuffered; ++it) {
            if (m_inner->seek(it->first))
                m_inner->write(it->second.data(), it->second.size());
        }
        handOver();
        return false;
    }

    std::unique_ptr<carddata::Stream> m_inner;
    std::shared_ptr<State> m_state;
    std::string m_path;
    bool m_buffered;
    int64_t m_position = 0;
    size_t m_buffer = 0; // bytes the stdio buffer would hold
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> m_overwritten;
};

} // namespace

void FaultInjector::arm(FaultKind kind, FaultMode mode, int64_t failAt, const Target &target)
{
    State armed{kind, mode, failAt, target};
    armed.live = m_state->live;
    armed.observer = std::move(m_state->observer);
    *m_state = std::move(armed);
}

carddata::StreamOpener FaultInjector::wrap(carddata::StreamOpener inner) const
{
    return [state = m_state, inner = std::move(inner)](const std::string &path, carddata::OpenMode mode) {
        std::unique_ptr<carddata::Stream> stream;
        if (!strikes(*state, StreamCall::Open, onFile(*state, path), mode))
            stream = inner ? inner(path, mode) : carddata::openFileStream(path, mode);
        if (stream)
            stream = std::make_unique<FaultyStream>(std::move(stream), state, path,
                                                    mode != carddata::OpenMode::Read);
        return stream;
    };
}

} // namespace ZovaZode::TestSupport
