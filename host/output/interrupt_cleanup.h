// Ctrl-C during a run must not leave half-written outputs behind: files in
// progress are registered here, and on SIGINT, SIGTERM or SIGHUP the
// handler removes them and ends the process with 128 + the signal number.
#pragma once

namespace udmhost {

void installInterruptCleanup();

// `path` must stay valid until it is forgotten. Returns false when the
// table is full (the file is then not removed on interruption).
bool rememberPartialFile(const char* path);
void forgetPartialFile(const char* path);

// Removes every registered file; async-signal-safe.
void removePartialFiles();

}  // namespace udmhost
