// One run of the program: the whole dialogue, from banner to exit code.
#pragma once

// Runs the dialogue once on the standard streams and returns the exit code,
// which is always 0.
int Run();
