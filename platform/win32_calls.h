// The system calls of the Windows OS layer, each made through a pointer of
// one table, as SQLite's os_unix.c makes its calls through aSyscall[]. The
// table holds the real calls; a test points an entry at a scripted stand-in
// to reach answers that real handles seldom give (a pipe that takes one byte
// at a time, a clock that jumps, a control event), and puts the entry back
// afterwards. Nothing else changes it. The last error stays the system's:
// a stand-in that fails sets it.
#pragma once

#include <windows.h>

namespace platform {

struct Win32Calls {
  decltype(&::GetStdHandle) GetStdHandle;
  decltype(&::GetFileType) GetFileType;
  decltype(&::GetNamedPipeInfo) GetNamedPipeInfo;
  decltype(&::WriteConsoleW) WriteConsoleW;
  decltype(&::SetConsoleMode) SetConsoleMode;
  decltype(&::ReadConsoleW) ReadConsoleW;
  decltype(&::ReadFile) ReadFile;
  decltype(&::WriteFile) WriteFile;
  decltype(&::FlushFileBuffers) FlushFileBuffers;
  decltype(&::GetTickCount64) GetTickCount64;
  decltype(&::Sleep) Sleep;
  decltype(&::SetConsoleTitleW) SetConsoleTitleW;
  decltype(&::SetConsoleTextAttribute) SetConsoleTextAttribute;
  decltype(&::SetConsoleCtrlHandler) SetConsoleCtrlHandler;
};

extern Win32Calls win32_calls;

}  // namespace platform
