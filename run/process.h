// The transformation run: one input file through the cipher engine into one
// output file with the key file szKeyFile, under the progress dialog.
#pragma once

#include <cstdio>

#include <windows.h>

// The streams of the run under way: the input opened "rb", the key file
// "rb" and the output "wb". Null when no run is under way.
extern FILE *fInFile;
extern FILE *fKeyFile;
extern FILE *fOutFile;

// The progress dialog of the run under way. Each run destroys its dialog at
// its end and sets this back to null; null too when the dialog could not be
// created (the run goes on without it).
extern HWND hProgress;

// Turns szInFile into szOutFile with the key file szKeyFile, encrypting for
// mMode ENCRYPT and decrypting for DECRYPT, under the progress dialog; the
// output has the length of the input. Returns when the whole file is done;
// takes no messages from the queue meanwhile. Every failure is shown in a
// message box (caption "ERROR", owner hwndMain) and ends the run, in this
// order: "Bad input file", "Bad key file" (also greys Encrypt and Decrypt),
// "Cannot open input file", "Cannot open key file", "Output file must differ
// from input and key files", "Cannot open output file" -- after any of these
// an existing output is untouched -- then, once the output is open, "Cannot
// read input file", "Cannot open key file" (it vanished or changed during
// the run) and "Cannot write output file", after which the incomplete output
// is deleted. All files are closed when it returns.
void Algorithm(int mMode, const char *szInFile, const char *szOutFile);

// The engine's four callbacks over the streams above, one byte at a time.
// Algorithm hands the engine the same streams through the shared file layer
// (TransformStreams), which reads and writes them in chunks and gives the
// same bytes; its progress steps are calls of Increment. The other three are
// for a caller that drives EncodeBuffer over the streams itself.

// The next input byte, 0 to 255; -1 at the end of the input or after a read
// error.
int NextByte();

// The next key byte, 0 to 255. At the end of the key file it closes
// fKeyFile, opens szKeyFile again and reads its first byte. -1 for an empty
// key file, and -1 from then on when the key file cannot be opened again
// (fKeyFile is then null).
int NextKeyVal();

// Writes the low 8 bits of iOutChar to fOutFile; a failed write shows in the
// stream's error state.
void OutputChar(int iOutChar);

// Steps the progress bar of hProgress by one and repaints the dialog at
// once, since no paint messages are taken from the queue during a run.
void Increment();
