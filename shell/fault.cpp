// The fault handler: a top-level exception filter that hands the fault to a
// reporting thread started beforehand. The faulting thread only records the
// fault and waits: after a stack overflow it has a page or two of stack left,
// too little for a message box. Nothing here allocates, takes a lock or calls
// the C runtime once a fault has come: the fault may have broken any of them.
#include "fault.h"

#include <windows.h>

// The C runtime's own start-up (MinGW-w64): the entries it gives the linker.
extern "C" int WinMainCRTStartup();
extern "C" int mainCRTStartup();

namespace {

constexpr UINT kFaultExitCode = 0xFFFFFFFFu;  // -1
constexpr SIZE_T kReporterStack = 1024 * 1024;  // address space only; pages are committed as used
// Stack the system keeps back on the main thread for handling its overflow
// (a page otherwise).
constexpr ULONG kStackGuarantee = 32 * 1024;
// The process policy bit that lets 64-bit Windows swallow faults in window
// procedures called back from the kernel.
constexpr DWORD kCallbackFilterEnabled = 0x1;

struct ExceptionName {
    DWORD code;
    const char *name;
};

constexpr ExceptionName kExceptionNames[] = {
    {EXCEPTION_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {EXCEPTION_INT_OVERFLOW, "EXCEPTION_INT_OVERFLOW"},
    {EXCEPTION_STACK_OVERFLOW, "EXCEPTION_STACK_OVERFLOW"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "EXCEPTION_ILLEGAL_INSTRUCTION"},
    {EXCEPTION_PRIV_INSTRUCTION, "EXCEPTION_PRIV_INSTRUCTION"},
    {EXCEPTION_BREAKPOINT, "EXCEPTION_BREAKPOINT"},
    {EXCEPTION_SINGLE_STEP, "EXCEPTION_SINGLE_STEP"},
    {EXCEPTION_DATATYPE_MISALIGNMENT, "EXCEPTION_DATATYPE_MISALIGNMENT"},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {EXCEPTION_IN_PAGE_ERROR, "EXCEPTION_IN_PAGE_ERROR"},
    {EXCEPTION_GUARD_PAGE, "EXCEPTION_GUARD_PAGE"},
    {EXCEPTION_INVALID_HANDLE, "EXCEPTION_INVALID_HANDLE"},
    {EXCEPTION_NONCONTINUABLE_EXCEPTION, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {EXCEPTION_INVALID_DISPOSITION, "EXCEPTION_INVALID_DISPOSITION"},
    {EXCEPTION_FLT_DENORMAL_OPERAND, "EXCEPTION_FLT_DENORMAL_OPERAND"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
    {EXCEPTION_FLT_INEXACT_RESULT, "EXCEPTION_FLT_INEXACT_RESULT"},
    {EXCEPTION_FLT_INVALID_OPERATION, "EXCEPTION_FLT_INVALID_OPERATION"},
    {EXCEPTION_FLT_OVERFLOW, "EXCEPTION_FLT_OVERFLOW"},
    {EXCEPTION_FLT_STACK_CHECK, "EXCEPTION_FLT_STACK_CHECK"},
    {EXCEPTION_FLT_UNDERFLOW, "EXCEPTION_FLT_UNDERFLOW"},
    {0xC00002B4, "STATUS_FLOAT_MULTIPLE_FAULTS"},  // SSE
    {0xC00002B5, "STATUS_FLOAT_MULTIPLE_TRAPS"},
    {0xC0000374, "STATUS_HEAP_CORRUPTION"},
    {0xC0000409, "STATUS_STACK_BUFFER_OVERRUN"},
};

using MessageBoxFunction = int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT);
using GetPolicyFunction = BOOL(WINAPI *)(LPDWORD);
using SetPolicyFunction = BOOL(WINAPI *)(DWORD);

}  // namespace

static FaultReport g_report = FAULT_STANDARD_ERROR;
static MessageBoxFunction g_messageBox;  // looked up at installation: vantrel-cli needs no user32
static char g_programName[64] = "program";
static void *volatile g_cleanup;  // the registered clean-up function

static HANDLE g_wakeReporter;  // set when a fault is to be reported
static HANDLE g_reporter;
static volatile DWORD g_finisherId;  // the thread that cleans up and reports
static EXCEPTION_POINTERS *volatile g_fault;
static volatile LONG g_faultTaken;   // 1 once a thread's fault is being handled
static volatile LONG g_reportBegun;  // 1 once the report is under way

// The report, composed in place.
static char g_text[1024];
static DWORD g_length;

static void Append(const char *text)
{
    while (*text && g_length + 1 < sizeof g_text)
        g_text[g_length++] = *text++;
    g_text[g_length] = '\0';
}

static void AppendHex(DWORD value)
{
    char digits[9];
    for (int i = 7; i >= 0; --i, value >>= 4)
        digits[i] = "0123456789ABCDEF"[value & 0xF];
    digits[8] = '\0';
    Append(digits);
}

static void AppendRegister(const char *separator, const char *name, DWORD value)
{
    Append(separator);
    Append(name);
    Append("=");
    AppendHex(value);
}

static const char *ExceptionNameOf(DWORD code)
{
    for (const ExceptionName &known : kExceptionNames) {
        if (known.code == code)
            return known.name;
    }
    return nullptr;
}

// "Fatal error: exception C0000005 (EXCEPTION_ACCESS_VIOLATION) at address
// 00401A2B, writing address 00000010", then the registers in three lines.
static void ComposeReport(const EXCEPTION_POINTERS *fault)
{
    const EXCEPTION_RECORD *record = fault->ExceptionRecord;
    const CONTEXT *context = fault->ContextRecord;
    const bool box = g_report == FAULT_MESSAGE_BOX;
    g_length = 0;
    if (!box) {
        Append(g_programName);
        Append(": ");
    }
    Append(box ? "Fatal error: exception " : "fatal error: exception ");
    AppendHex(record->ExceptionCode);
    if (const char *name = ExceptionNameOf(record->ExceptionCode)) {
        Append(" (");
        Append(name);
        Append(")");
    }
    Append(" at address ");
    AppendHex(reinterpret_cast<DWORD>(record->ExceptionAddress));
    if ((record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
        record->NumberParameters >= 2) {
        ULONG_PTR access = record->ExceptionInformation[0];
        Append(access == 1 ? ", writing" : access == 8 ? ", executing" : ", reading");
        Append(" address ");
        AppendHex(static_cast<DWORD>(record->ExceptionInformation[1]));
    }
    const char *lineBreak = "\r\n";
    Append(box ? "\r\n\r\n" : lineBreak);
    AppendRegister("", "EAX", context->Eax);
    AppendRegister(" ", "EBX", context->Ebx);
    AppendRegister(" ", "ECX", context->Ecx);
    AppendRegister(" ", "EDX", context->Edx);
    AppendRegister(lineBreak, "ESI", context->Esi);
    AppendRegister(" ", "EDI", context->Edi);
    AppendRegister(" ", "EBP", context->Ebp);
    AppendRegister(" ", "ESP", context->Esp);
    AppendRegister(lineBreak, "EIP", context->Eip);
    AppendRegister(" ", "EFLAGS", context->EFlags);
    Append(box ? "\r\n\r\nThe program ends when this message is closed." : lineBreak);
}

static void Report(const EXCEPTION_POINTERS *fault)
{
    ComposeReport(fault);
    if (g_report == FAULT_MESSAGE_BOX && g_messageBox) {
        // No owner: the program's windows belong to the stopped thread.
        g_messageBox(nullptr, g_text, "ERROR", MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
        return;
    }
    HANDLE output = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode, written;
    if (GetConsoleMode(output, &mode))  // leave a progress line that may be on show
        WriteFile(output, "\r\n", 2, &written, nullptr);
    WriteFile(output, g_text, g_length, &written, nullptr);
}

// Runs the clean-up, reports the fault and ends the process.
static void FinishFault()
{
    if (void *cleanup = InterlockedExchangePointer(&g_cleanup, nullptr))  // once only
        reinterpret_cast<void (*)()>(cleanup)();
    if (InterlockedExchange(&g_reportBegun, 1) == 0)
        Report(g_fault);
    TerminateProcess(GetCurrentProcess(), kFaultExitCode);
}

static DWORD WINAPI ReporterMain(void *)
{
    WaitForSingleObject(g_wakeReporter, INFINITE);
    FinishFault();
    return 0;
}

static LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS *fault)
{
    if (GetCurrentThreadId() == g_finisherId) {
        // A fault in the clean-up ends it, and the first fault is still
        // reported; a fault in the report ends the process at once.
        if (InterlockedExchange(&g_reportBegun, 1) == 0)
            Report(g_fault);
        TerminateProcess(GetCurrentProcess(), kFaultExitCode);
    }
    if (InterlockedCompareExchange(&g_faultTaken, 1, 0) != 0)
        Sleep(INFINITE);  // another thread's fault is being reported; the process ends with it
    g_fault = fault;
    if (g_reporter && SetEvent(g_wakeReporter))
        WaitForSingleObject(g_reporter, INFINITE);
    // No reporting thread: report from here.
    g_finisherId = GetCurrentThreadId();
    FinishFault();
    return EXCEPTION_EXECUTE_HANDLER;
}

// 64-bit Windows swallows a fault in a window procedure that the kernel calls
// back (a message sent while a window is created or resized) unless told not
// to, and the program would run on broken. Systems without the call do not.
static void LetCallbackFaultsThrough()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto getPolicy = reinterpret_cast<GetPolicyFunction>(
        reinterpret_cast<void *>(GetProcAddress(kernel, "GetProcessUserModeExceptionPolicy")));
    auto setPolicy = reinterpret_cast<SetPolicyFunction>(
        reinterpret_cast<void *>(GetProcAddress(kernel, "SetProcessUserModeExceptionPolicy")));
    DWORD flags;
    if (getPolicy && setPolicy && getPolicy(&flags))
        setPolicy(flags & ~kCallbackFilterEnabled);
}

// The program's file name without folder and extension, for the console report.
static void RememberProgramName()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    const char *name = path;
    for (const char *at = path; *at; ++at) {
        if (*at == '\\' || *at == '/')
            name = at + 1;
    }
    DWORD kept = 0;
    for (; name[kept] && name[kept] != '.' && kept + 1 < sizeof g_programName; ++kept)
        g_programName[kept] = name[kept];
    if (kept > 0)
        g_programName[kept] = '\0';
}

bool InstallFaultHandler(FaultReport report)
{
    g_report = report;
    if (report == FAULT_MESSAGE_BOX) {
        if (HMODULE user32 = LoadLibraryA("user32.dll"))
            g_messageBox =
                reinterpret_cast<MessageBoxFunction>(reinterpret_cast<void *>(GetProcAddress(user32, "MessageBoxA")));
        LetCallbackFaultsThrough();
    }
    RememberProgramName();
    ULONG guarantee = kStackGuarantee;
    SetThreadStackGuarantee(&guarantee);  // refused: the system's page is kept
    g_wakeReporter = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD reporterId = 0;
    if (g_wakeReporter)
        g_reporter = CreateThread(nullptr, kReporterStack, ReporterMain, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                  &reporterId);
    g_finisherId = g_reporter ? reporterId : 0;
    SetUnhandledExceptionFilter(OnUnhandledException);
    return g_reporter != nullptr;
}

void SetFaultCleanup(void (*cleanup)())
{
    InterlockedExchangePointer(&g_cleanup, reinterpret_cast<void *>(cleanup));
}

extern "C" int VantrelWindowsEntry()
{
    InstallFaultHandler(FAULT_MESSAGE_BOX);
    return WinMainCRTStartup();
}

extern "C" int VantrelConsoleEntry()
{
    InstallFaultHandler(FAULT_STANDARD_ERROR);
    return mainCRTStartup();
}
