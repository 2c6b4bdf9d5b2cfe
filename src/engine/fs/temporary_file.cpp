#include "engine/fs/temporary_file.h"

#include "engine/fs/rewrite.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace quillet::engine {

namespace {

// The temporary files that have a name, for a signal handler: each slot holds a
// directory descriptor and a name. A slot is claimed before its
// file is created and cleared after the rename, so that a handler running at
// any moment removes at most files of this run's own. Rewrites are put in
// place on one thread (the run's own); several may be staged at once, some of
// them ahead on workers.
constexpr std::size_t kTempNameSize = TemporaryFile::kNameSize;
constexpr int kTempSlots = 2 * kMaxStagedRewrites + kMaxRewritesAhead;
// A slot holds the directory descriptor plus one, so that the zero every
// slot starts with means free before any code has run.
constexpr int kFreeSlot = 0;
constexpr int kClaimedSlot = -1; // in use, no file to remove
std::atomic<int> g_tempDirectory[kTempSlots];
char g_tempName[kTempSlots][kTempNameSize] = {};

int claimTempSlot() {
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = kFreeSlot;
        if (g_tempDirectory[i].compare_exchange_strong(expected, kClaimedSlot))
            return i;
    }
    return -1; // none free: the file is still made, but a signal leaves it behind
}

} // namespace

bool TemporaryFile::create(int directoryFd) {
    if (m_slot < 0)
        m_slot = claimTempSlot();
    UniqueFd unnamed = CreateUnnamedFileAt(directoryFd, 0600);
    if (unnamed.valid()) {
        m_unnamed = directoryFd;
        m_fd.reset(unnamed.release());
        return true;
    }
    // Any other error is the directory's, and a named file meets it too.
    if (!NoUnnamedFiles(errno))
        return false;
    return makeName(directoryFd, [&](const char* name) {
        const int fd = ::openat(directoryFd, name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            m_fd.reset(fd);
        return fd >= 0;
    });
}

bool TemporaryFile::adopt(int directoryFd, int fromDirectoryFd, const char* name) {
    if (m_slot < 0)
        m_slot = claimTempSlot();
    if (!makeName(directoryFd,
                  [&](const char* fresh) { return ::linkat(fromDirectoryFd, name, directoryFd, fresh, 0) == 0; }))
        return false;
    m_fd.reset(::openat(directoryFd, m_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (m_fd.valid())
        return true;
    const int error = errno;
    discard();
    errno = error;
    return false;
}

bool TemporaryFile::giveName() {
    if (m_unnamed < 0)
        return true;
    const int directoryFd = std::exchange(m_unnamed, -1);
    return makeName(directoryFd, [&](const char* name) { return LinkOpenFile(m_fd.get(), directoryFd, name); });
}

void TemporaryFile::markRenamed() {
    announce(kClaimedSlot, nullptr);
    m_directory = -1;
}

void TemporaryFile::discard() {
    m_fd.reset();
    m_unnamed = -1;
    if (m_directory >= 0) {
        ::unlinkat(m_directory, m_name, 0);
        m_directory = -1;
    }
    if (m_slot >= 0)
        g_tempDirectory[m_slot].store(kFreeSlot);
    m_slot = -1;
}

// Calls make(name) with fresh random names until one is free.
template <typename Make>
bool TemporaryFile::makeName(int directoryFd, Make make) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[kTempNameSize] = ".quillet-";
        for (std::size_t i = 9; i < kTempNameSize - 1; ++i)
            name[i] = kLetters[pick(random)];
        announce(directoryFd, name);
        if (make(name)) {
            m_directory = directoryFd;
            std::memcpy(m_name, name, kTempNameSize);
            return true;
        }
        const int error = errno;
        announce(kClaimedSlot, nullptr);
        if (error != EEXIST) {
            errno = error;
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

// Tells a signal handler which file to remove: `name` in directoryFd, or
// none (directoryFd kClaimedSlot, name null).
void TemporaryFile::announce(int directoryFd, const char* name) {
    if (m_slot < 0)
        return;
    if (name != nullptr) {
        g_tempDirectory[m_slot].store(kClaimedSlot);
        std::memcpy(g_tempName[m_slot], name, kTempNameSize);
    }
    g_tempDirectory[m_slot].store(directoryFd == kClaimedSlot ? kClaimedSlot : directoryFd + 1);
}

void DiscardTemporaryFileOnSignal() noexcept {
    for (int i = 0; i < kTempSlots; ++i) {
        const int slot = g_tempDirectory[i].load();
        if (slot > 0)
            ::unlinkat(slot - 1, g_tempName[i], 0);
    }
}

} // namespace quillet::engine
