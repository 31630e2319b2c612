#!/usr/bin/env python3
"""Runs a console program in a pseudo-terminal of its own, as a user's console window.

    scripts/pty-console.py LOG COMMAND [ARGUMENT...]

Under Wine a console program on a terminal gets a real console, so Ctrl+C typed there
reaches its console control handler: this is how the Windows tests stop tallyport.exe the
way a user does. Everything the program writes goes to LOG (the terminal's own escape
sequences and all). Signals to this script:
  SIGINT, SIGTERM  type Ctrl+C in the program's console (again at each signal);
  SIGUSR1          end the program at once (SIGKILL to it), as a crash or a power cut.
The exit status is the program's (128 + the signal number when a signal ended it).
"""
import os
import pty
import select
import signal
import sys


def main() -> int:
    if len(sys.argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    log_path, command = sys.argv[1], sys.argv[2:]
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.execvp(command[0], command)
        finally:
            os._exit(127)

    wanted = []  # what the signal handlers asked for, done in the loop
    signal.signal(signal.SIGINT, lambda *_: wanted.append("ctrl-c"))
    signal.signal(signal.SIGTERM, lambda *_: wanted.append("ctrl-c"))
    signal.signal(signal.SIGUSR1, lambda *_: wanted.append("kill"))

    with open(log_path, "ab", buffering=0) as log:
        status = None
        while status is None:
            while wanted:
                what = wanted.pop(0)
                if what == "ctrl-c":
                    try:
                        os.write(master, b"\x03")
                    except OSError:
                        pass
                else:
                    os.kill(pid, signal.SIGKILL)
            try:
                ready, _, _ = select.select([master], [], [], 0.1)
            except InterruptedError:
                continue
            if ready:
                try:
                    data = os.read(master, 65536)
                except OSError:  # the program has closed its terminal
                    data = b""
                if data:
                    log.write(data)
            done, raw = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                status = raw
        # What is left in the terminal after the program ended.
        while True:
            try:
                ready, _, _ = select.select([master], [], [], 0)
                data = os.read(master, 65536) if ready else b""
            except OSError:
                data = b""
            if not data:
                break
            log.write(data)
    os.close(master)
    if os.WIFSIGNALED(status):
        return 128 + os.WTERMSIG(status)
    return os.WEXITSTATUS(status)


if __name__ == "__main__":
    sys.exit(main())
