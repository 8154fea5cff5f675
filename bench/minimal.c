/* The least a program can do to hold the dialogue for the input 550 with
 * redirected input and output: the same bytes in the same nine write(2)
 * calls (one per line, one for the prompt) and the same two read(2) calls
 * (the line, then the closing wait). It neither parses nor computes; the
 * benchmark measures the real program against it, so what remains is the
 * cost of start-up, parsing, lookup and formatting. */
#include <string.h>
#include <unistd.h>

static void put(const char* text) {
  ssize_t written = write(1, text, strlen(text));
  (void)written; /* nothing to be done about a failed write */
}

int main(void) {
  static char buffer[8192];
  ssize_t got;

  put("\r\n");
  put(" ******* Interpolation Vollstfarbenhelligkeit nach Valdrup *******\r\n");
  put("\r\n");
  put("               Berechnungsbereich 380 nm bis 700 nm\r\n");
  put("   Eingabe der Spektralwellenl\xc3\xa4"
      "nge: [nm] mit Dezimalpunkt:   ");

  got = read(0, buffer, sizeof buffer);

  put("\r\n");
  put("   Helligkeit Vollstfarbe 550.00nm :  84.120\r\n");
  put("\r\n");
  put("   Druecke eine Taste um das Programm zu beenden.\r\n");

  got = read(0, buffer, sizeof buffer);
  (void)got;
  return 0;
}
