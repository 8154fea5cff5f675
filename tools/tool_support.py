"""What every tool in tools/ and installer/ shares: the repository's root,
ending with a message, and running commands."""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def fail(message):
    """Ends the tool with a message, named after the script that runs."""
    sys.exit(f"{Path(sys.argv[0]).stem}: {message}")


def check(condition, message):
    if not condition:
        fail(message)


def run(*command, cwd=ROOT, **kwargs):
    """Runs a command, shown first; it must succeed."""
    print("+", " ".join(str(word) for word in command), flush=True)
    return subprocess.run([str(word) for word in command], cwd=cwd, check=True, **kwargs)


def output(*command):
    """What a command that must succeed prints, quietly."""
    return subprocess.run([str(word) for word in command], check=True, capture_output=True,
                          text=True).stdout


def configured(build_dir, name="CMAKE_PROJECT_VERSION"):
    """A setting in a configured build's cache, by default the project's version."""
    for line in (build_dir / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    fail(f"no {name} in {build_dir}/CMakeCache.txt")
