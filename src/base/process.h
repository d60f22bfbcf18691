// Starting other programs: opening documents, folders and web addresses in
// the desktop's applications, running command lines, and console programs on
// pipes.
//
// Every child is started with an argument vector whose first entry is the
// program's name, from arguments prepared before the child exists, with
// SIGPIPE back at its default action and no signal blocked (the base library
// ignores SIGPIPE for itself), and with none of our other descriptors open.
#pragma once

#include "base/buffers.h"

#include <sys/types.h>

// Opens a file, folder or web address with the desktop opener.  The text goes
// to the opener as one argument whatever it holds (spaces, quotes, ';', '$'):
// it never reaches a shell, so an address taken from a document or an update
// reply cannot run a command.  A text that would read as one of the opener's
// options (a leading '-') is opened only when it names an existing path.
// False for null or empty text, when the opener cannot be started, or when it
// ends with a non-zero status.
bool shellOpen(const char* target);

// Runs the desktop opener with the one argument path and waits for it; true
// when it ended with status 0.
bool run_macopen(const char* path);

// Runs a command line through the shell ("/bin/sh -c") and waits for it; true
// when it ended with status 0.  Only for callers that mean a command line.
bool execCmd(const char* command);

// Runs the program at path (no PATH search, no shell) with the argument
// vector argv (argv[0] first, ended by a null entry) and waits for it; true
// when it ended with status 0.  Each argument reaches the program exactly as
// it is, whatever characters it holds.  False for a null path or argv, or
// when the program cannot be started.
bool runProgram(const char* path, const char* const* argv);

// Waits (blocking) for the child pid to end; true when its wait status is 0.
// A wait that fails (no such child, or not ours) is a failure.
bool waitfor(int pid);

// Starts file (found through PATH, no arguments), gives it 10 ms and looks
// once whether it has ended; true unless it could not be started or has
// already ended with a non-zero status.  A child that runs on is reaped in the
// background when it ends.
bool just_run(const char* file);

// A console program on two pipes: one feeds its standard input, the other
// carries its standard output and standard error merged, preceded by the
// marker "CMD>".  Belongs to one thread at a time.
class cConProcess {
public:
    cConProcess() = default;
    virtual ~cConProcess();
    cConProcess(const cConProcess&) = delete;
    cConProcess& operator=(const cConProcess&) = delete;

    // Ends a previous child, then starts file (PATH search, no arguments).
    // False when the pipes or the child could not be made; nothing is kept
    // open then.  The second argument is not used.
    bool startProcess(const char* file, bool unused = false);
    // Ends a running child with terminate() and closes both pipes.
    void close();
    // One non-blocking read of at most 4096 bytes: when at least one byte
    // came, out is replaced by exactly those bytes and the result is true;
    // otherwise (nothing waiting, end of output, error) false and out is left
    // as it was.
    bool readOutput(_typebuf<unsigned char>& out);
    // One write of len bytes to the child's input; true only when all of them
    // went in that write.  A child that has gone makes it false, never a
    // SIGPIPE.
    bool writeInput(const void* data, long long len);
    // True while the child runs.  Once it has ended its wait status is kept in
    // status() and the child is forgotten.
    bool isValid();
    // Sends SIGTERM to a running child and forgets it; it is reaped in the
    // background once it ends, and status() becomes -1 (it did not end on
    // its own).  A child that has already ended is just collected.  True also
    // when there is no child; false when the signal could not be sent.
    bool terminate();
    // Sends SIGINT to a running child; false when there is none or the signal
    // could not be sent.
    bool simCtrlC();

    // The wait status of the child once it ended, as waitpid reports it (0:
    // exit code 0); -1 when it was terminated or its wait failed; 0 before.
    int status() const { return status_; }

private:
    int output_ = -1;  // read end of the child's standard output and error
    int input_ = -1;   // write end of the child's standard input
    pid_t child_ = 0;
    int status_ = 0;
};
