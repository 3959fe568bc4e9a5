# Presses the console's buttons for a program that runs headless under qemu's user-mode emulator,
# from a script of key steps. Run by gdb-multiarch, attached to qemu's debugger port:
#
#   gdb-multiarch -batch -nx -x tests/package_keys.py
#
# with ZORVEL_KEYS_PORT (qemu's port), ZORVEL_KEYS_PROGRAM (the program, or an unstripped copy of
# it for its symbols), ZORVEL_KEYS_SCRIPT (the key steps) and, for a program linked to shared
# libraries, ZORVEL_KEYS_SYSROOT (the folder the emulator takes them from).
#
# The program itself is not changed: SDL's dummy display has no keyboard, so every call of
# SDL_GetKeyState is one pass, and before the caller reads the key-state table the driver writes
# into it the keys that the script holds down in that pass. One step a line:
#   wait N           N passes with no key down
#   tap BUTTON [N]   BUTTON down for one pass, then up for three; N times
#   with MOD BUTTON  MOD down, then BUTTON down too, then both up for three passes
# Ends with status 0 when the program ended by itself, 1 when it stopped otherwise or still ran
# long after the script's last step.
import os
import time

import gdb

# SDL 1.2's key symbols of the console's buttons.
KEYS = {
    "UP": 273, "DOWN": 274, "RIGHT": 275, "LEFT": 276, "A": 306, "B": 308,
    "X": 32, "Y": 304, "L": 9, "R": 8, "START": 13, "SELECT": 27,
}
LOW = min(KEYS.values())
HIGH = max(KEYS.values())
RELEASE_PASSES = 3
# Passes after the script's last step in which the program must have ended.
GRACE_PASSES = 2000
CONNECT_ATTEMPTS = 60


def passes_of(script_path):
    """The keys held down in each pass, as a list of sets."""
    passes = []
    with open(script_path) as script:
        for number, line in enumerate(script, 1):
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            step, arguments = words[0], words[1:]
            try:
                if step == "wait":
                    passes += [set()] * int(arguments[0])
                elif step == "tap":
                    key = KEYS[arguments[0]]
                    for _ in range(int(arguments[1]) if len(arguments) > 1 else 1):
                        passes += [{key}] + [set()] * RELEASE_PASSES
                elif step == "with":
                    modifier, key = KEYS[arguments[0]], KEYS[arguments[1]]
                    passes += [{modifier}, {modifier, key}] + [set()] * RELEASE_PASSES
                else:
                    raise ValueError(step)
            except (IndexError, KeyError, ValueError):
                raise gdb.GdbError("%s:%d: cannot read %r" % (script_path, number, line))
    return passes


def main():
    passes = passes_of(os.environ["ZORVEL_KEYS_SCRIPT"])
    gdb.execute("set pagination off")
    gdb.execute("set confirm off")
    if os.environ.get("ZORVEL_KEYS_SYSROOT"):
        gdb.execute("set sysroot " + os.environ["ZORVEL_KEYS_SYSROOT"])
    gdb.execute("file " + os.environ["ZORVEL_KEYS_PROGRAM"])
    # qemu opens its port as it starts; a machine under load may take a while.
    for attempt in range(CONNECT_ATTEMPTS):
        try:
            gdb.execute("target remote 127.0.0.1:" + os.environ["ZORVEL_KEYS_PORT"])
            break
        except gdb.error:
            if attempt == CONNECT_ATTEMPTS - 1:
                raise
            time.sleep(0.5)
    # A program linked to shared libraries has a stub of the function too; only the function
    # itself runs once per call.
    gdb.execute("break SDL_GetKeyState")
    gdb.execute("commands\nsilent\nend")
    exit_codes = []
    gdb.events.exited.connect(lambda event: exit_codes.append(getattr(event, "exit_code", -1)))
    in_function = {}
    table = None
    done = 0
    while True:
        gdb.execute("continue", to_string=True)
        if exit_codes:
            print("program ended with status %d after %d passes" % (exit_codes[0], done))
            return 0
        pc = int(gdb.parse_and_eval("$pc")) & 0xFFFFFFFF
        if pc not in in_function:
            where = gdb.execute("info symbol %d" % pc, to_string=True)
            if not where.startswith("SDL_GetKeyState"):
                print("program stopped outside SDL_GetKeyState: " + where.strip())
                return 1
            in_function[pc] = "section .text" in where
        if not in_function[pc]:
            continue
        if table is None:
            gdb.execute("finish", to_string=True)
            table = int(gdb.parse_and_eval("$v0")) & 0xFFFFFFFF
        down = passes[done] if done < len(passes) else set()
        state = bytearray(HIGH - LOW + 1)
        for key in down:
            state[key - LOW] = 1
        gdb.selected_inferior().write_memory(table + LOW, bytes(state))
        done += 1
        if done > len(passes) + GRACE_PASSES:
            print("program still runs %d passes after the script's end" % GRACE_PASSES)
            gdb.execute("kill")
            return 1


status = 1
try:
    status = main()
finally:
    gdb.execute("quit %d" % status)
