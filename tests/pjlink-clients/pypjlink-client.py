#!/usr/bin/env python3
"""Drives qvx-bridge through pypjlink2, Home Assistant's PJLink library, as
Home Assistant does, and prints what the library made of each answer, one line
each, in the words of npm-client.js, for tests/check-pjlink-clients.sh to
compare.

    pypjlink-client.py OPEN LOCKED SILENT PASSWORD

OPEN, LOCKED and SILENT are the PJLink ports of a projector without a
password, one with PASSWORD and one that never answers its line. Like Home
Assistant, it opens a connection for each use and authenticates on it.
"""

import socket
import sys

from pypjlink import MUTE_AUDIO, MUTE_VIDEO, Projector
from pypjlink.projector import ProjectorError

# Home Assistant's time-out for a connection and each answer.
ANSWER_SECONDS = 10
ERROR_FIELDS = ("fan", "lamp", "temperature", "cover", "filter", "other")


def on_off(value):
    return "on" if value else "off"


def mute_words(mute):
    video, audio = mute
    return f"video {on_off(video)}, audio {on_off(audio)}"


def input_code(source_number):
    source, number = source_number
    return {"RGB": "1", "VIDEO": "2", "DIGITAL": "3", "STORAGE": "4", "NETWORK": "5"}[source] + str(number)


# Each check: what it reads or sets, and the words of its result.
READS = (
    ("power", lambda p: p.get_power()),
    ("lamps", lambda p: ", ".join(f"{hours} {on_off(lit)}" for hours, lit in p.get_lamps())),
    ("errors", lambda p: ", ".join(f"{field} {state}" for field, state in ordered(p.get_errors()))),
    ("inputs", lambda p: " ".join(input_code(i) for i in p.get_inputs())),
    ("name", lambda p: p.get_name()),
    ("manufacturer", lambda p: p.get_manufacturer()),
    ("product", lambda p: p.get_product_name()),
    ("info", lambda p: p.get_other_info()),
    ("input", lambda p: input_code(p.get_input())),
)
SWITCHES = (
    ("power-on", lambda p: p.set_power("on") or "OK"),
    READS[0],
    READS[1],
    ("input-set", lambda p: p.set_input("VIDEO", 1) or "OK"),
    READS[-1],
    ("mute", lambda p: mute_words(p.get_mute())),
    ("mute-set", lambda p: p.set_mute(MUTE_VIDEO | MUTE_AUDIO, True) or "OK"),
    ("mute", lambda p: mute_words(p.get_mute())),
)


def ordered(errors):
    return ((field, errors[field]) for field in ERROR_FIELDS)


def outcome(port, password, check):
    """One connection, authenticated as Home Assistant does, for one check."""
    try:
        with Projector.from_address("127.0.0.1", port, timeout=ANSWER_SECONDS) as projector:
            if projector.authenticate(password) is False:
                return "authorization failed"
            return check(projector)
    except ProjectorError as error:
        return str(error)
    except (OSError, socket.timeout, AssertionError, KeyError, ValueError) as error:
        return f"failed: {type(error).__name__} {error}"


def run(label, port, password, checks):
    for what, check in checks:
        print(f"{label} {what} {outcome(port, password, check)}", flush=True)


def main():
    open_port, locked_port, silent_port = (int(port) for port in sys.argv[1:4])
    password = sys.argv[4]
    for label, port, secret in (("open", open_port, None), ("locked", locked_port, password)):
        run(label, port, secret, READS + SWITCHES)
    run("silent", silent_port, None, (READS[0], SWITCHES[0]))
    run("wrong", locked_port, password + "-wrong", (READS[0],))


if __name__ == "__main__":
    main()
