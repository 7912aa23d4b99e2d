// Fault injection through the card data library's stream layer, as SQLite tests its I/O: an
// operation is run once to count the calls a kind of fault applies to, then again for every
// N, failing the N-th such call only, or every such call from the N-th on.
//
// The kinds are the ways a card reader or a disk fails. Each applies to the calls it can hit:
//   NoSpace     write (nothing written), flush, commit, opening to create
//   IoError     every call
//   ReadOnly    opening for writing, write, flush, commit
//   DeviceGone  every call (from N on: the card was pulled)
//   ShortRead   read (half of what was asked is read)
//   ShortWrite  write (half of what was given is written)
//
// A stream opened for writing behaves as glibc's stdio buffer does: small writes sit in the
// buffer until the next seek, read, flush, commit or close hands them to the file. When the
// fault strikes that call (or a write), the buffered bytes are lost, as glibc drops the buffer of
// a failed flush, and a later successful commit does not bring them back. (The bytes go to the
// file at once and are put back when lost, so that other handles and write-range checks see
// what they always saw; bytes that grew the file stay.) Writes larger than the buffer go
// straight to the file, as a large fwrite() does.
//
// FaultInjector wraps another opener (the memory file system, or the real files) and counts
// the streams alive, so that a test can see a stream that an operation failed to release.
// Single-threaded: the operations under test run on the calling thread. Plain C++, no Qt.
#pragma once

#include "carddata/stream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace ZovaZode::TestSupport {

enum class StreamCall { Open, Seek, Read, Write, Flush, Commit, Close };
inline constexpr int kStreamCallKinds = 7;

enum class FaultKind { NoSpace, IoError, ReadOnly, DeviceGone, ShortRead, ShortWrite };
enum class FaultMode { Once, FromNOn };

const char *faultKindName(FaultKind kind);
const char *faultModeName(FaultMode mode);
const char *streamCallName(StreamCall call);

class FaultInjector
{
public:
    struct State
    {
        FaultKind kind = FaultKind::IoError;
        FaultMode mode = FaultMode::Once;
        int64_t failAt = 0; // 1-based; 0 never fails
        int64_t applicable = 0;
        int64_t injected = 0;
        std::array<int64_t, kStreamCallKinds> calls{};
        int live = 0;
    };

    FaultInjector();

    // Counts from zero again and fails the `failAt`-th call `kind` applies to (0: none).
    void arm(FaultKind kind, FaultMode mode, int64_t failAt);
    void disarm() { arm(m_state->kind, m_state->mode, 0); }

    // Calls the armed kind applied to since arm(): after a run with failAt 0, the N to sweep.
    int64_t applicableCalls() const { return m_state->applicable; }
    int64_t injectedFaults() const { return m_state->injected; }
    int64_t calls(StreamCall call) const { return m_state->calls[size_t(call)]; }
    int liveStreams() const { return m_state->live; }

    // An opener that serves `inner`'s streams through the injector.
    carddata::StreamOpener wrap(carddata::StreamOpener inner) const;

    // Whether `kind` applies to `call` (`mode` matters for opens only).
    static bool applies(FaultKind kind, StreamCall call, carddata::OpenMode mode = carddata::OpenMode::Read);

private:
    std::shared_ptr<State> m_state;
};

} // namespace ZovaZode::TestSupport
