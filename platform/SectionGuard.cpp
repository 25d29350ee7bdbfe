#include "platform/SectionGuard.h"

#include <signal.h>
#include <sys/mman.h>

#include <mutex>

namespace velomark {

namespace {

// Initial-exec: the handler must not be the first to touch this thread's variable.
__attribute__((tls_model("initial-exec"))) thread_local SectionGuard::State* t_guard = nullptr;

struct sigaction g_previous{};
std::once_flag g_installed;

void ForwardToPrevious(int signal, siginfo_t* info, void* context) {
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    // The default action: returning re-runs the faulting access, which now ends the
    // process as it would have without us.
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
    auto* address = static_cast<unsigned char*>(info->si_addr);
    for (SectionGuard::State* guard = t_guard; guard; guard = guard->outer) {
        if (address < guard->base || address >= guard->base + guard->size) continue;
        // mmap is a plain system call here; it replaces the shared pages in place.
        void* replaced = mmap(guard->base, guard->size, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (replaced == MAP_FAILED) break;
        guard->faulted = true;
        return;
    }
    ForwardToPrevious(signal, info, context);
}

void InstallHandler() {
    struct sigaction action{};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

SectionGuard::SectionGuard(void* view, size_t size)
    : m_state{static_cast<unsigned char*>(view), size, false, t_guard} {
    std::call_once(g_installed, InstallHandler);
    t_guard = &m_state;
}

SectionGuard::~SectionGuard() { t_guard = m_state.outer; }

bool SectionGuard::Faulted() const { return m_state.faulted; }

}  // namespace velomark
