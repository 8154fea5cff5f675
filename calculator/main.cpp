#include "calculator/run.h"

// The command line is ignored.
int main() {
  return Run();
}
