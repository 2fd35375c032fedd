// The fault handler of the Windows programs. An unhandled exception (an
// access violation, a division by zero, a stack overflow, an illegal
// instruction, ...) runs the registered clean-up, then tells the user the
// exception's code (with its name for the common ones), the faulting address
// and the registers EAX to ESP, EIP and EFLAGS, and ends the process with
// exit code -1 (0xFFFFFFFF). The report is made by a thread of its own,
// started at installation, so that it still comes after a stack overflow.
#pragma once

enum FaultReport {
    FAULT_MESSAGE_BOX,     // a message box captioned "ERROR" with the error icon
    FAULT_STANDARD_ERROR,  // lines on standard error, prefixed with the program's name
};

// Installs the handler for the whole process and starts its reporting thread.
// Call once, first thing: the process entries below do. Returns false when
// the reporting thread cannot be started; the handler is installed anyway
// and then reports from the faulting thread itself, which a stack overflow
// leaves too little stack to do.
bool InstallFaultHandler(FaultReport report);

// Registers `cleanup` to run once on a fault, before the report (null for
// none; a later call replaces the earlier one): the place to remove the
// temporary outputs of the runs under way. It runs on the handler's thread
// while the faulting thread is stopped wherever it was and other threads go
// on, so it must not take a lock that another thread may hold (the faulting
// one never lets go), must not allocate memory (the heap may be what broke),
// and should only make plain system calls on data it keeps ready, such as
// deleting files whose names sit in fixed buffers. A fault inside it ends the
// clean-up; the report still comes.
void SetFaultCleanup(void (*cleanup)());

// The process entry points (given to the linker with --entry): each installs
// the handler (the Windows one reporting in a box, the console one on
// standard error) and then hands over to the C runtime's own start-up, which
// ends the process with the program's result.
extern "C" int VantrelWindowsEntry();
extern "C" int VantrelConsoleEntry();
