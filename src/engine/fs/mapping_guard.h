// Keeps a read-only mapping of a file from crashing the process when the file
// shrinks under it. Touching a mapped page past the file's new end raises
// SIGBUS; for a guarded mapping the handler puts zero-filled pages in place of
// the whole mapping and marks it torn, and the read that faulted goes on. The
// owner of the mapping checks torn() once it has used the bytes and, if set,
// discards whatever it made from them: the file changed while it was read.
//
// A write from a torn mapping into a file fails with EFAULT instead (the
// system's copy does not raise the signal); treat that the same way.
//
// The handler is installed with the first guard; a SIGBUS at any other address
// goes to the handler that was installed before, or ends the process as it
// would have without this one. At most kGuardSlots mappings are guarded at a
// time (more than a run holds in flight); guard() fails beyond that (read the
// file instead).
#pragma once

#include <cstddef>

namespace quillet::engine {

inline constexpr int kGuardSlots = 512;

class MappingGuard {
public:
    MappingGuard() = default;
    ~MappingGuard() { release(); }
    MappingGuard(const MappingGuard&) = delete;
    MappingGuard& operator=(const MappingGuard&) = delete;
    MappingGuard(MappingGuard&& other) noexcept : m_slot(other.m_slot) { other.m_slot = -1; }
    MappingGuard& operator=(MappingGuard&& other) noexcept;

    // Guards the `size` bytes mapped at `begin` (precondition: a mapping of
    // exactly that range, which outlives the guard). False when no slot is
    // free or the handler cannot be installed.
    bool guard(const char* begin, std::size_t size);
    // Whether the file shrank under the mapping since guard().
    bool torn() const;
    // Stops guarding (before the range is unmapped).
    void release();

private:
    int m_slot = -1;
};

} // namespace quillet::engine
