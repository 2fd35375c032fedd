// The Encrypt, Decrypt and Set Key commands, and the key file they share.
#pragma once

// Full path of the key file; empty until a key is set. Written only by the
// Set Key command, read by every run.
extern char szKeyFile[256];
