// Interrupts end the process after the pending outputs are removed.
#include "interrupt.h"

#include <atomic>

#include "pending.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#endif

static std::atomic<void (*)()> g_notice{nullptr};

void SetInterruptNotice(void (*notice)())
{
    g_notice = notice;
}

static void Notify()
{
    if (void (*notice)() = g_notice.load())
        notice();
}

#ifdef _WIN32

// The statuses a POSIX shell shows for the same ends: 128 + SIGINT for
// Ctrl+C and Ctrl+Break, 128 + SIGHUP when the console goes away.
constexpr UINT kInterruptStatus = 130;
constexpr UINT kHangUpStatus = 129;

static BOOL WINAPI OnConsoleEvent(DWORD event)
{
    AbandonPendingOutputs();
    Notify();
    bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    TerminateProcess(GetCurrentProcess(), interrupt ? kInterruptStatus : kHangUpStatus);
    return TRUE;
}

// A process started with Ctrl+C ignored keeps ignoring it: the system calls
// no handler for it then.
void InstallInterruptCleanup()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

#else

// The signals that end a process by default and can be caught: they end
// this one too, after its pending outputs are removed. (SIGKILL cannot be
// caught: outputs without a name are what it leaves nothing of.)
static const int kEndingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
                                     SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO};

static void WaitForInterrupt(sigset_t set)
{
    int number = 0;
    while (sigwait(&set, &number) != 0) {
    }
    AbandonPendingOutputs();
    Notify();
    // End as the signal itself would have, so that the caller sees it, but
    // leave no core file (SIGQUIT, SIGXCPU) among the user's files.
    struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
    _exit(128 + number);
}

static bool Ignored(int number)
{
    struct sigaction current;
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void InstallInterruptCleanup()
{
    // A full file system, a size limit or a closed pipe should fail a
    // write, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    // What the caller had ignored (nohup, a shell's background job) stays
    // ignored.
    for (int number : kEndingSignals) {
        if (!Ignored(number))
            sigaddset(&set, number);
    }
    // Blocked here and in every thread started later; one thread takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(WaitForInterrupt, set).detach();
}

#endif
