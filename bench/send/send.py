#!/usr/bin/python3
"""The job of one qvx-send call, done the way a pyserial script would do it.

    send.py [--threads] --port ENDPOINT [--port ENDPOINT]... COMMAND

bench/send/run times it beside qvx-send. Each port (a device path, rfc2217://
or socket://, through serial.serial_for_url) is opened at 9600 8N1; the
command's text and CR are written, and the reply is read up to its first CR or
the end of the 500 ms reply window. The reply is printed as it came, without
its CR, after "PORT: " when there are several ports. Ports are served one after
another, or with --threads one thread each.

Exit status as qvx-send's: 0 every port answered, 1 some port did not, 2 a port
could not be opened, 64 usage error.

Runs under Debian's /usr/bin/python3, which has python3-serial.
"""

import argparse
import sys
import threading

import serial

COMMANDS = {
    "pj-status": b"TABN   1",
    "l1-status": b"TLPS   1",
    "l2-status": b"TLPS   2",
    "l1-time": b"TLTT   1",
    "l2-time": b"TLTT   2",
}
REPLY_WINDOW_SECONDS = 0.5


def exchange(endpoint, text):
    """The reply (possibly empty) to text, or the SerialException that kept the port shut."""
    try:
        with serial.serial_for_url(
            endpoint,
            baudrate=9600,
            bytesize=serial.EIGHTBITS,
            parity=serial.PARITY_NONE,
            stopbits=serial.STOPBITS_ONE,
            timeout=REPLY_WINDOW_SECONDS,
        ) as port:
            port.write(text + b"\r")
            # The timeout covers the whole read, so this is the reply window.
            return port.read_until(b"\r")
    except serial.SerialException as error:
        return error


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", action="append", required=True)
    parser.add_argument("--threads", action="store_true")
    parser.add_argument("command", choices=sorted(COMMANDS))
    try:
        arguments = parser.parse_args()
    except SystemExit:
        return 64
    text = COMMANDS[arguments.command]

    replies = [None] * len(arguments.port)
    if arguments.threads:

        def serve(index):
            replies[index] = exchange(arguments.port[index], text)

        threads = [threading.Thread(target=serve, args=(i,)) for i in range(len(replies))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    else:
        replies = [exchange(endpoint, text) for endpoint in arguments.port]

    status = 0
    for endpoint, reply in zip(arguments.port, replies):
        prefix = f"{endpoint}: " if len(arguments.port) > 1 else ""
        if isinstance(reply, Exception):
            print(f"{prefix}{reply}", file=sys.stderr)
            status = 2
        elif not reply:
            print(f"{prefix}no reply to {arguments.command}", file=sys.stderr)
            status = max(status, 1)
        else:
            print(prefix + reply.rstrip(b"\r").decode("latin-1"))
    return status


if __name__ == "__main__":
    sys.exit(main())
