// Interrupts end the process after the pending outputs are removed.
#include "interrupt.h"

#include <atomic>

#include "pending.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
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

static BOOL WINAPI OnConsoleEvent(DWORD)
{
    AbandonPendingOutputs();
    Notify();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

void InstallInterruptCleanup()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

#else

static const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

static void WaitForInterrupt(sigset_t set)
{
    int number = 0;
    while (sigwait(&set, &number) != 0) {
    }
    AbandonPendingOutputs();
    Notify();
    // End as the signal itself would have, so that the caller sees it.
    std::signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(number);
    _exit(128 + number);
}

void InstallInterruptCleanup()
{
    // A full file system or a size limit should fail a write, not kill us.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    for (int number : kInterrupts)
        sigaddset(&set, number);
    // Blocked here and in every thread started later; one thread takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(WaitForInterrupt, set).detach();
}

#endif
