// Starting programs without waiting for them, execute bits, and the one-string
// command line of the hosting desktop split into and built from an argument
// vector.
//
// Stateless functions, callable from any thread. Programs are executed
// directly (no shell), with the caller's environment, working folder and
// standard streams; descriptors opened by this platform layer are closed on
// execution, so a started program never inherits a lock or file of ours.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Starts Argv[0] with the argument vector Argv (Argv[0] is passed on as the
// program's own name). A name without '/' is looked up in $PATH. Fails with 2
// when the program does not exist, 5 when it is not an executable file (or a
// folder), 87 for an empty vector.
//
// Without ProcessId the child is collected in the background when it ends, so
// it never lingers as a zombie. With ProcessId the caller receives the child's
// id and must collect it with WaitForProcess.
bool StartProcess(const std::vector<std::string>& argv, int* processId = nullptr);

// Splits CommandLine with ParseCommandLine and starts the result.
bool StartCommandLine(std::string_view commandLine, int* processId = nullptr);

// Waits up to Timeout for a child started with a ProcessId and collects it.
// ExitCode is the exit status, or 128 + the signal number when a signal ended
// it. Fails with 258 on time-out (the child is then still to be collected).
bool WaitForProcess(int processId, std::chrono::milliseconds timeout, int& exitCode);

// Adds the execute bit for owner, group and others wherever the read bit is
// set (the owner always gets it).
bool SetExecuteBits(const std::string& path);

// Splits a command line the desktop's usual way: blanks (space, tab) separate;
// double quotes group and are removed; "" inside quotes is one literal quote;
// 2n backslashes before a quote give n backslashes and a grouping quote, 2n+1
// give n backslashes and a literal quote; other backslashes are literal. The
// first item (the program) ends at the next blank, or is the text between its
// quotes, without backslash processing.
std::vector<std::string> ParseCommandLine(std::string_view commandLine);

// The command line that ParseCommandLine splits back into Argv; an argument is
// quoted only when it is empty or holds a blank or a quote. The program name
// (Argv[0]) cannot hold a quote: it has no escape.
std::string BuildCommandLine(const std::vector<std::string>& argv);

}  // namespace platform
