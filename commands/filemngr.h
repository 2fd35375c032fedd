// The Encrypt, Decrypt and Set Key commands, and the key file they share.
#pragma once

// Full path of the key file; empty until a key is set. Written only by the
// Set Key command, read by every run.
extern char szKeyFile[256];

// The Encrypt command: asks for the file to encrypt (Open dialog) and the
// file to receive the result (Save dialog), then runs the transformation in
// ENCRYPT mode with szKeyFile. A cancelled dialog ends it silently; an input
// that cannot be opened for shared reading shows "Bad filename" and asks for
// no output. Everything else is reported by the run.
void Encrypt();

// The Decrypt command: the same as Encrypt in DECRYPT mode, with the
// dialogs' own titles, file types and patterns.
void Decrypt();

// The Set Key command: asks for any existing file (Open dialog, opening on
// the current key file when there is one). A file that passes the file check
// becomes szKeyFile, Encrypt and Decrypt are enabled and "Key successfully
// set!" is shown; a file that does not shows "Bad filename" and changes
// nothing; a cancelled dialog changes nothing.
void SetKey();

// Enables the Decrypt item of the main window's menu.
void EnableDecrypt();
