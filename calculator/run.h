// One run of the program: the whole dialogue, from banner to exit code.
#pragma once

#include <memory_resource>

// Runs the dialogue once on the standard streams, drawing its memory from a
// pool of its own, and returns the exit code: 0 when every line arrived (or
// its reader had gone away), 1 when output was lost.
int Run();

// The same, drawing every allocation of the run from `memory`.
int Run(std::pmr::memory_resource& memory);
