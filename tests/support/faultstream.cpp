// Fault injection through the stream layer; see faultstream.h.
#include "faultstream.h"

#include <utility>
#include <vector>

namespace ZovaZode::TestSupport {

namespace {

using State = FaultInjector::State;

// Counts the call and tells whether it is one that must fail.
bool strikes(State &state, StreamCall call, carddata::OpenMode mode = carddata::OpenMode::Read)
{
    ++state.calls[size_t(call)];
    if (!FaultInjector::applies(state.kind, call, mode))
        return false;
    const int64_t index = ++state.applicable;
    const bool fail =
        state.failAt > 0 && (state.mode == FaultMode::Once ? index == state.failAt : index >= state.failAt);
    if (fail)
        ++state.injected;
    return fail;
}

// The stdio buffer of the shipped file stream (src/carddata/stream.cpp).
constexpr size_t kStdioBufferSize = 256 * 1024;

class FaultyStream final : public carddata::Stream
{
public:
    FaultyStream(std::unique_ptr<carddata::Stream> inner, std::shared_ptr<State> state, bool buffered)
        : m_inner(std::move(inner)), m_state(std::move(state)), m_buffered(buffered)
    {
        ++m_state->live;
    }
    ~FaultyStream() override { --m_state->live; }

    bool seek(int64_t position) override
    {
        if (strikes(*m_state, StreamCall::Seek))
            return lose();
        handOver();
        if (!m_inner->seek(position))
            return false;
        m_position = position;
        return true;
    }

    size_t read(void *buffer, size_t size) override
    {
        const bool struck = strikes(*m_state, StreamCall::Read);
        if (struck && m_state->kind != FaultKind::ShortRead) {
            lose();
            return 0;
        }
        handOver();
        const size_t got = m_inner->read(buffer, struck ? size / 2 : size);
        m_position += int64_t(got);
        return got;
    }

    size_t write(const void *buffer, size_t size) override
    {
        if (strikes(*m_state, StreamCall::Write)) {
            if (m_state->kind != FaultKind::ShortWrite) {
                lose();
                return 0;
            }
            size /= 2;
        }
        if (!m_buffered || m_buffer + size > kStdioBufferSize) {
            // Does not fit in the buffer: goes to the file, and the write's result says so.
            handOver();
        } else {
            // Sits in the buffer until the next flush: remember what it covers.
            Overwritten old{m_position, std::vector<uint8_t>(size)};
            old.bytes.resize(m_inner->seek(m_position) ? m_inner->read(old.bytes.data(), size) : 0);
            m_inner->seek(m_position);
            m_overwritten.push_back(std::move(old));
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

    bool flush() override
    {
        if (strikes(*m_state, StreamCall::Flush))
            return lose();
        handOver();
        return m_inner->flush();
    }

    bool commit() override
    {
        if (strikes(*m_state, StreamCall::Commit))
            return lose();
        handOver();
        return m_inner->commit();
    }

    // Not a call a device fails: it only forgets cached pages.
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }

    bool close() override
    {
        // A failed close still releases the file, as fclose() does.
        const bool fail = strikes(*m_state, StreamCall::Close);
        if (fail)
            lose();
        handOver();
        const bool closed = m_inner->close();
        return closed && !fail;
    }

private:
    struct Overwritten
    {
        int64_t position;
        std::vector<uint8_t> bytes;
    };

    // The buffered bytes reached the file, as after a successful flush.
    void handOver()
    {
        m_overwritten.clear();
        m_buffer = 0;
    }

    // The buffered bytes never reach the file, as glibc drops the buffer of a flush that failed:
    // what they overwrote is put back.
    bool lose()
    {
        for (auto it = m_overwritten.rbegin(); it != m_overwritten.rend(); ++it) {
            if (m_inner->seek(it->position))
                m_inner->write(it->bytes.data(), it->bytes.size());
        }
        handOver();
        return false;
    }

    std::unique_ptr<carddata::Stream> m_inner;
    std::shared_ptr<State> m_state;
    bool m_buffered;
    int64_t m_position = 0;
    size_t m_buffer = 0; // bytes the stdio buffer would hold
    std::vector<Overwritten> m_overwritten;
};

} // namespace

const char *faultKindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::NoSpace:
        return "no space";
    case FaultKind::IoError:
        return "I/O error";
    case FaultKind::ReadOnly:
        return "read-only";
    case FaultKind::DeviceGone:
        return "device gone";
    case FaultKind::ShortRead:
        return "short read";
    case FaultKind::ShortWrite:
        return "short write";
    }
    return "?";
}

const char *faultModeName(FaultMode mode)
{
    return mode == FaultMode::Once ? "once" : "from N on";
}

const char *streamCallName(StreamCall call)
{
    static const char *const names[kStreamCallKinds] = {"open",  "seek",   "read", "write",
                                                        "flush", "commit", "close"};
    return names[size_t(call)];
}

FaultInjector::FaultInjector() : m_state(std::make_shared<State>()) {}

void FaultInjector::arm(FaultKind kind, FaultMode mode, int64_t failAt)
{
    const int live = m_state->live;
    *m_state = State();
    m_state->kind = kind;
    m_state->mode = mode;
    m_state->failAt = failAt;
    m_state->live = live;
}

bool FaultInjector::applies(FaultKind kind, StreamCall call, carddata::OpenMode mode)
{
    switch (kind) {
    case FaultKind::IoError:
    case FaultKind::DeviceGone:
        return true;
    case FaultKind::NoSpace:
        return call == StreamCall::Write || call == StreamCall::Flush || call == StreamCall::Commit ||
               (call == StreamCall::Open && mode == carddata::OpenMode::Create);
    case FaultKind::ReadOnly:
        return call == StreamCall::Write || call == StreamCall::Flush || call == StreamCall::Commit ||
               (call == StreamCall::Open && mode != carddata::OpenMode::Read);
    case FaultKind::ShortRead:
        return call == StreamCall::Read;
    case FaultKind::ShortWrite:
        return call == StreamCall::Write;
    }
    return false;
}

carddata::StreamOpener FaultInjector::wrap(carddata::StreamOpener inner) const
{
    return [state = m_state, inner = std::move(inner)](const std::string &path, carddata::OpenMode mode) {
        if (strikes(*state, StreamCall::Open, mode))
            return std::unique_ptr<carddata::Stream>();
        std::unique_ptr<carddata::Stream> stream =
            inner ? inner(path, mode) : carddata::openFileStream(path, mode);
        if (!stream)
            return std::unique_ptr<carddata::Stream>();
        return std::unique_ptr<carddata::Stream>(
            new FaultyStream(std::move(stream), state, mode != carddata::OpenMode::Read));
    };
}

} // namespace ZovaZode::TestSupport
