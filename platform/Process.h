#pragma once
// Starting other programs: handing the rest of a run over to another program, as plmtool
// does for the verbs that live in its companion programs, and starting one that runs on
// by itself.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plm {

// Replaces the running program by the one at path, with args as its arguments (args[0]
// is the name it is given). Buffered output is written out first; with
// outputToStandardError, what the program writes to its standard output goes to this
// one's standard error. Returns only when the program cannot be started, with the OS
// error code.
int ExecProgram(const std::string &path, const std::vector<std::string> &args,
                bool outputToStandardError = false);

// Starts args[0], looked for in PATH, with args[1..] as its arguments, and does not wait
// for it: it is nobody's child here and is never waited for. Returns false when the
// program cannot be found or the system cannot start a process.
bool StartDetached(const std::vector<std::string> &args);

// Keeps standard output for a protocol spoken with the parent process: returns it as a
// stream of its own and points descriptor 1 at standard error, so that whatever else the
// program or its libraries print cannot mix into the protocol. Null when it fails.
std::FILE *TakeStandardOutput();

// Whether the stream is a terminal (a user watching), not a file or a pipe.
bool IsTerminal(std::FILE *stream);

// The most descriptors the process may have open at once (its soft limit).
uint64_t OpenFileLimit();

// Raises that limit as far as the system lets this process (to its hard limit) and
// returns the limit in force afterwards. The folder tree keeps a few descriptors for each
// folder it shows, far beyond the usual default of 1,024 in a large folder.
uint64_t RaiseOpenFileLimit();

// Makes this process, and the processes it starts from now on, background work: the
// scheduler gives the processor to the user's other programs first (a niceness of 10).
// Returns 0 or the OS error code.
int RunInBackground();
// The same for the calling thread alone, and the threads and processes it starts from now
// on: a window's long work on a thread of its own leaves the processor to the window first.
int RunThreadInBackground();

} // namespace plm
