"""What the Python tests share: the dialogue as the program writes it, and
the line cap, read from the header that defines it.

Redirected output is UTF-8 with CR LF line ends; redirected input is
UTF-16LE.
"""

import pathlib
import re

TITLE = "Interpolation Vollstfarbenhelligkeit nach Valdrup"
PROMPT = "   Eingabe der Spektralwellenl\u00e4nge: [nm] mit Dezimalpunkt:   "
CLOSING_TEXT = "   Druecke eine Taste um das Programm zu beenden."
REPORT_START = "   Helligkeit Vollstfarbe "

# Everything up to the first read, and the closing message, as bytes.
HEAD = ("\r\n"
        " ******* " + TITLE + " *******\r\n"
        "\r\n"
        "               Berechnungsbereich 380 nm bis 700 nm\r\n" + PROMPT).encode()
CLOSING = (CLOSING_TEXT + "\r\n").encode()


def report_text(wavelength: str, brightness: str) -> str:
    """The report line without its line end, e.g. for 550.00 and 84.120."""
    return f"{REPORT_START}{wavelength}nm :  {brightness}"


def report_line(wavelength: str, brightness: str) -> bytes:
    return (report_text(wavelength, brightness) + "\r\n").encode()


def after_prompt(wavelength: str, brightness: str) -> bytes:
    """Everything the program writes once the first line is read."""
    return b"\r\n" + report_line(wavelength, brightness) + b"\r\n" + CLOSING


def whole_output(wavelength: str, brightness: str) -> bytes:
    return HEAD + after_prompt(wavelength, brightness)


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def _line_cap() -> int:
    header = pathlib.Path(__file__).resolve().parent.parent / "console" / "line_input.h"
    found = re.search(r"kLineCap = ([0-9']+);", header.read_text())
    if not found:
        raise RuntimeError(f"no kLineCap in {header}")
    return int(found.group(1).replace("'", ""))


# The program cuts a redirected line after this many code units.
LINE_CAP = _line_cap()
