// The system calls of the POSIX OS layer, each made through a pointer of one
// table, as SQLite's os_unix.c makes its calls through aSyscall[]. The table
// holds the real calls; a test points an entry at a scripted stand-in to
// reach answers that real descriptors seldom give (a write that takes
// nothing, EIO from close, a wait that fails), on every machine, and puts
// the entry back afterwards. Nothing else changes it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

namespace platform {

struct PosixCalls {
  int (*isatty)(int fd);
  ssize_t (*read)(int fd, void* buffer, std::size_t size);
  ssize_t (*write)(int fd, const void* bytes, std::size_t size);
  int (*poll)(pollfd* entries, nfds_t count, int timeout_ms);
  int (*close)(int fd);
  int (*tcgetattr)(int fd, termios* mode);
  int (*tcsetattr)(int fd, int when, const termios* mode);
  pid_t (*tcgetpgrp)(int fd);
  pid_t (*getpgrp)();
  int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* previous);
  int (*pthread_sigmask)(int how, const sigset_t* signals, sigset_t* previous);
  int (*raise)(int signal);
};

// Read in signal handlers too: a test changes it only while no handler of
// the OS layer can run.
extern PosixCalls posix_calls;

}  // namespace platform
