#include "engine/fs/mapping_guard.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>

#include <sys/mman.h>

namespace quillet::engine {

namespace {

// One guarded range. InUse claims the slot; Begin, set last and cleared first,
// is what the handler trusts: a non-zero Begin comes with its Size.
struct Slot {
    std::atomic<bool> InUse{false};
    std::atomic<std::uintptr_t> Begin{0};
    std::atomic<std::size_t> Size{0};
    std::atomic<bool> Torn{false};
};

Slot g_slots[kGuardSlots];
struct sigaction g_previous {};
std::once_flag g_installOnce;
bool g_installed = false;

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        const std::uintptr_t begin = slot.Begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address - begin >= slot.Size.load(std::memory_order_relaxed))
            continue;
        // Zero pages over the whole range: the faulting read goes on, and
        // no later read of the range can fault again. Where the system
        // refuses them, the read would fault again at once, without end:
        // the signal's default action ends the process instead.
        // The slot keeps the address as an integer, so that the handler
        // compares it with si_addr without comparing unrelated pointers.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        if (::mmap(reinterpret_cast<void*>(begin), slot.Size.load(std::memory_order_relaxed), PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
            ::signal(SIGBUS, SIG_DFL);
            return;
        }
        slot.Torn.store(true, std::memory_order_release);
        return;
    }
    // Not ours: as if this handler had never been installed.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // The faulting access runs again and ends the process.
    ::signal(SIGBUS, SIG_DFL);
}

void install() {
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    g_installed = ::sigaction(SIGBUS, &action, &g_previous) == 0;
}

} // namespace

MappingGuard& MappingGuard::operator=(MappingGuard&& other) noexcept {
    if (this != &other) {
        release();
        m_slot = other.m_slot;
        other.m_slot = -1;
    }
    return *this;
}

bool MappingGuard::guard(const char* begin, std::size_t size) {
    release();
    std::call_once(g_installOnce, install);
    if (!g_installed || begin == nullptr || size == 0)
        return false;
    for (int i = 0; i < kGuardSlots; ++i) {
        bool expected = false;
        if (!g_slots[i].InUse.compare_exchange_strong(expected, true))
            continue;
        g_slots[i].Torn.store(false);
        g_slots[i].Size.store(size);
        g_slots[i].Begin.store(reinterpret_cast<std::uintptr_t>(begin), std::memory_order_release);
        m_slot = i;
        return true;
    }
    return false;
}

bool MappingGuard::torn() const {
    return m_slot >= 0 && g_slots[m_slot].Torn.load(std::memory_order_acquire);
}

void MappingGuard::release() {
    if (m_slot < 0)
        return;
    g_slots[m_slot].Begin.store(0, std::memory_order_release);
    g_slots[m_slot].Size.store(0);
    g_slots[m_slot].InUse.store(false, std::memory_order_release);
    m_slot = -1;
}

} // namespace quillet::engine
