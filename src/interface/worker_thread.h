#pragma once
// Tells an interface's own threads (receive and heartbeat), on which its
// callbacks run, from the application's: what must not block on replies (a
// control cycle's run) asks before it waits.

namespace kinetra {

inline bool& interfaceThreadFlag() {
    thread_local bool flag = false;
    return flag;
}

/// Marks the calling thread as an interface's own for its lifetime.
inline void markInterfaceThread() { interfaceThreadFlag() = true; }

/// Whether the calling thread is an interface's receive or heartbeat thread.
inline bool onInterfaceThread() { return interfaceThreadFlag(); }

}  // namespace kinetra
