// vantrel-cli's interrupts: Ctrl+C and its kin end the process with every
// pending output removed.
#pragma once

// Makes an interrupt (on POSIX every signal that ends a process by default
// and can be caught, unless the caller had it ignored; Ctrl+C, Ctrl+Break
// and closing the console on Windows) remove every pending output and end
// the process as the interrupt would have: by the signal on POSIX (status
// 128 + N), with 130 (Ctrl+C, Ctrl+Break) or 129 (the console closed) on
// Windows. Writes that fail end no process. Call once, before any thread
// starts.
void InstallInterruptCleanup();

// `notice` is called on an interrupt, after the pending outputs are gone and
// just before the process ends; null for none. It may only write to stderr.
void SetInterruptNotice(void (*notice)());
