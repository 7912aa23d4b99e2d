// Fault injection through the card data library's stream layer, as SQLite tests its I/O: an
// operation runs once to count the calls a kind of fault applies to, then again for every N,
// failing the N-th such call only, or every such call from the N-th on. The kinds: IoError fails
// any call (from N on: the card was pulled); NoSpace writes, flushes, commits and opens for
// writing; ShortRead and ShortWrite move half of what was asked. A target narrows them to some
// calls, one file, or the reads and writes that touch a range of bytes.
//
// A stream opened for writing behaves as glibc's stdio buffer does: small writes wait in the
// buffer for the next seek, read, flush, commit or close, and when the fault strikes that call
// (or a write) they are lost, as glibc drops the buffer of a failed flush; a later commit does not
// bring them back. Writes larger than the buffer go straight to the file, as fwrite() does.
//
// An observer, if set, sees every read and write before it happens, and may change the bytes a
// write carries: a test times its actions by the position reached, or damages a copy in flight.
//
// The injector counts the streams alive. One thread at a time may use its streams; plain C++,
// shared with the fuzzers.
#pragma once

#include "carddata/stream.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ZovaZode::TestSupport {

enum class StreamCall { Open, Seek, Read, Write, Flush, Commit, Close };
enum class FaultKind { IoError, NoSpace, ShortRead, ShortWrite };
enum class FaultMode { Once, FromNOn };

struct FaultTarget
{
    unsigned calls = 0; // bits 1 << StreamCall; 0 for all
    std::string file;   // the end of the path; empty for every file
    int64_t from = 0;   // reads and writes must touch [from, to)
    int64_t to = INT64_MAX;
};

class FaultInjector
{
public:
    using Target = FaultTarget;
    // The file's path, the call (Read or Write), its position, and the bytes of a write.
    using Observer = std::function<void(const std::string &, StreamCall, int64_t, uint8_t *, size_t)>;
    struct State
    {
        FaultKind kind = FaultKind::IoError;
        FaultMode mode = FaultMode::Once;
        int64_t failAt = 0; // 1-based; 0 never fails
        Target target;
        bool keepBuffered = false; // a failed call does not lose the bytes buffered before it
        int64_t applicable = 0, injected = 0;
        std::array<int64_t, 7> calls{};
        int live = 0;
        Observer observer{};
    };

    FaultInjector() : m_state(std::make_shared<State>()) {}

    // Counts from zero again and fails the `failAt`-th call the kind and target apply to (0: none).
    // A fault loses the writes still in the modelled stdio buffer that were made while armed.
    void arm(FaultKind kind, FaultMode mode, int64_t failAt, const Target &target = {});
    void disarm() { arm(FaultKind::IoError, FaultMode::Once, 0); }
    void observe(Observer observer) { m_state->observer = std::move(observer); }
    // Fails every call of this kind on every file, as a device that refuses the call itself: what
    // was written before it stays written (as after an fdatasync that fails once the flush is done).
    void failEvery(StreamCall call)
    {
        arm(FaultKind::IoError, FaultMode::FromNOn, 1, {1u << int(call), {}, 0, INT64_MAX});
        m_state->keepBuffered = true;
    }

    // After a run with failAt 0: the N to sweep.
    int64_t applicableCalls() const { return m_state->applicable; }
    int64_t injectedFaults() const { return m_state->injected; }
    int64_t calls(StreamCall call) const { return m_state->calls[size_t(call)]; }
    int liveStreams() const { return m_state->live; }

    // An opener that serves `inner`'s streams (the real files when empty) through the injector.
    carddata::StreamOpener wrap(carddata::StreamOpener inner) const;

private:
    std::shared_ptr<State> m_state;
};

// An injector between the library and the real files for as long as it lives.
class ScopedFaultInjector : public FaultInjector
{
public:
    ScopedFaultInjector() { carddata::setStreamOpener(wrap({})); }
    ~ScopedFaultInjector() { carddata::setStreamOpener({}); }
};

} // namespace ZovaZode::TestSupport
