// vantrel-cli's interrupts: Ctrl+C and its kin end the process with every
// pending output removed.
#pragma once

// Makes an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C, Ctrl+Break
// and closing the console on Windows) remove every pending output and end
// the process as the interrupt would have. Call once, before any thread
// starts.
void InstallInterruptCleanup();

// `notice` is called on an interrupt, after the pending outputs are gone and
// just before the process ends; null for none. It may only write to stderr.
void SetInterruptNotice(void (*notice)());
