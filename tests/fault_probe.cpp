// A program that fails on purpose, for the fault handler's test; built twice,
// with the Windows programs' entry (a message box) and with the console one.
//   fault_probe KIND FILE [faulty]
// registers a clean-up that deletes FILE (and then, with "faulty", faults
// itself), and raises KIND: access (a write to a read-only page), divide (an
// integer division by zero), stack (pushes until the stack overflows),
// illegal (ud2), privileged (hlt) or raise (RaiseException with a code of
// its own). KIND run instead starts a run that replaces FILE, with the
// programs' clean-up of pending outputs, and makes the access fault at the
// run's first progress step. The hardware faults come with EBX, ESI and EDI set to
// B1B1B1B1, C2C2C2C2 and D3D3D3D3. What the system raised is written to
// standard output as "raised CODE at ADDRESS", seen first by a vectored
// handler that lets the fault go on to the fault handler.
#include <windows.h>

#include <cstring>
#include <string>

#include "bytestream.h"
#include "encode.h"
#include "fault.h"
#include "filerun.h"
#include "pending.h"
#include "sysfile.h"

namespace {

constexpr DWORD kOwnCode = 0xE0564E54;

char cleanupFile[MAX_PATH];
bool cleanupFaults;
void *readOnlyPage;

void CleanUp()
{
    DeleteFileA(cleanupFile);
    if (cleanupFaults)
        RaiseException(kOwnCode + 1, 0, 0, nullptr);
}

void WriteHex(char *at, DWORD value)
{
    for (int i = 7; i >= 0; --i, value >>= 4)
        at[i] = "0123456789ABCDEF"[value & 0xF];
}

// Runs on the faulting thread, even after a stack overflow: no C runtime.
LONG CALLBACK NoteRaised(EXCEPTION_POINTERS *fault)
{
    char line[] = "raised XXXXXXXX at XXXXXXXX\r\n";
    WriteHex(line + 7, fault->ExceptionRecord->ExceptionCode);
    WriteHex(line + 19, reinterpret_cast<DWORD>(fault->ExceptionRecord->ExceptionAddress));
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof line - 1, &written, nullptr);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Sets the marked registers and ECX to the read-only page, then runs
// `instructions`.
#define FAULT_WITH_MARKED_REGISTERS(instructions)                                                \
    asm volatile("movl $0xB1B1B1B1, %%ebx\n movl $0xC2C2C2C2, %%esi\n movl $0xD3D3D3D3, %%edi\n" \
                 "movl %0, %%ecx\n" instructions                                                 \
                 : : "m"(readOnlyPage) : "eax", "ebx", "ecx", "edx", "esi", "edi", "memory")

void AccessFault(void *)
{
    FAULT_WITH_MARKED_REGISTERS("movl %%eax, 16(%%ecx)\n");
}

// Encrypts this program's own file into a pending output that is to replace
// `output`, and faults during the run.
void FaultDuringARun(const char *output)
{
    SetFaultCleanup(RemovePendingOutputsAfterFault);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::FILE *input = OpenStream(Utf8FromAnsi(self), "rb"), *key = OpenStream(Utf8FromAnsi(self), "rb");
    PendingOutput pending;
    std::string reason;
    std::int64_t size = 0;
    if (!input || !key || !StreamFileSize(input, &size) || !CreatePendingOutput(Utf8FromAnsi(output), &pending, &reason))
        return;
    RunHooks hooks{AccessFault, nullptr, nullptr};
    TransformStreams(ENCRYPT, EngineDataSize(size), input, key, pending.stream, hooks);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || std::strlen(argv[2]) >= sizeof cleanupFile)
        return 2;
    std::strcpy(cleanupFile, argv[2]);
    cleanupFaults = argc > 3 && std::strcmp(argv[3], "faulty") == 0;
    SetFaultCleanup(CleanUp);
    AddVectoredExceptionHandler(1, NoteRaised);

    const std::string kind = argv[1];
    readOnlyPage = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    if (kind == "access")
        AccessFault(nullptr);
    else if (kind == "run")
        FaultDuringARun(argv[2]);
    else if (kind == "divide")
        FAULT_WITH_MARKED_REGISTERS("movl $1, %%eax\n xorl %%edx, %%edx\n xorl %%ecx, %%ecx\n divl %%ecx\n");
    else if (kind == "stack")
        FAULT_WITH_MARKED_REGISTERS("1: pushl %%eax\n jmp 1b\n");
    else if (kind == "illegal")
        FAULT_WITH_MARKED_REGISTERS("ud2\n");
    else if (kind == "privileged")
        FAULT_WITH_MARKED_REGISTERS("hlt\n");
    else if (kind == "raise")
        RaiseException(kOwnCode, 0, 0, nullptr);
    return 3;  // not a kind, or it did not fault
}
