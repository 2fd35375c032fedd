// The start of vantrel.exe. Its process entry installs the fault handler and
// then runs the C runtime's start-up (MinGW-w64), which sets up the standard
// streams, splits the command line into arguments, runs the static
// constructors, calls main and makes its result the exit code. Here main
// calls the program's entry, WinMain, with the command line after the
// program's own name and the show state SW_SHOWNORMAL (1), once a crash is
// set to remove the temporary output of a run under way.
#include <windows.h>

#include "fault.h"
#include "pending.h"

// The command line past the program's name and the blanks that follow it.
// The name may be quoted and then hold spaces.
static char *CommandTail()
{
    char *at = GetCommandLineA();
    bool quoted = false;
    for (; *at && (quoted || static_cast<unsigned char>(*at) > ' '); ++at) {
        if (*at == '"')
            quoted = !quoted;
    }
    while (*at && static_cast<unsigned char>(*at) <= ' ')
        ++at;
    return at;
}

int main()
{
    // A crash during a run removes its temporary output first.
    SetFaultCleanup(RemovePendingOutputsAfterFault);
    return WinMain(GetModuleHandleA(nullptr), nullptr, CommandTail(), SW_SHOWNORMAL);
}
