// The transformation run: one input file through the cipher engine into one
// output file with the key file szKeyFile, under the progress dialog.
#pragma once

#include <cstdio>

#include <windows.h>

// The streams of the run under way: the input opened "rb", the key file
// "rb" and the output's temporary file beside it "wb". Null when no run is
// under way.
extern FILE *fInFile;
extern FILE *fKeyFile;
extern FILE *fOutFile;

// The progress dialog of the run under way. Each run destroys its dialog at
// its end and sets this back to null; null too when the dialog could not be
// created (the run goes on without it).
extern HWND hProgress;

// Turns szInFile into szOutFile with the key file szKeyFile, encrypting for
// mMode ENCRYPT and decrypting for DECRYPT, under the progress dialog; the
// output has the length of the input. The result is written to a temporary
// file in the output's folder (".vantrel-PID-N.tmp") and takes the output's
// name, replacing a file there in one step, only when it is complete: at
// every moment, even if the process is killed, that name holds its previous
// content or the whole new one. Returns when the whole file is done; takes
// no messages from the queue meanwhile. Every failure is shown in a message
// box (caption "ERROR", owner hwndMain) and ends the run, in this order:
// "Bad input file", "Bad key file" (also greys Encrypt and Decrypt),
// "Cannot open input file", "Cannot open key file", "Output file must differ
// from input and key files", "Cannot open output file" (it could not be
// created or replaced: a missing folder, a read-only, locked or non-file
// output), then, during the run, "Cannot read input file", "Cannot open key
// file" (it vanished or changed), "Cannot write output file" (also when the
// output could not be replaced at the end) and "Input file changed during
// the run: nothing was written" (its size or time of last writing moved, or
// its bytes did not match its size). After any failure the output's name is
// as it was and no temporary file is left. All files are closed when it
// returns.
void Algorithm(int mMode, const char *szInFile, const char *szOutFile);

// The engine's progress callback: steps the progress bar of hProgress by one
// and repaints the dialog at once, since no paint messages are taken from
// the queue during a run.
void Increment();
