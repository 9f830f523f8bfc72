"""The line's own exchange time: qvx-sim's device asked directly, as the bridge asks it."""
import os
import statistics
import sys
import termios
import time
import tty

device, count = sys.argv[1], int(sys.argv[2])
fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
termios.tcflush(fd, termios.TCIOFLUSH)


def exchange(text):
    os.write(fd, text + b"\r")
    reply = b""
    while not reply.endswith(b"\r"):
        reply += os.read(fd, 256)


def milliseconds(texts):
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        for text in texts:
            exchange(text)
        times.append((time.perf_counter_ns() - start) / 1e6)
    times.sort()
    return statistics.median(times), statistics.quantiles(times, n=100, method="inclusive")[-1]


# POWR ? reads the power state; LAMP ? the lamp pattern and both lamps' hours.
for label, texts in (("POWR ?", [b"POWR????"]), ("LAMP ?", [b"CR7", b"TLTT   1", b"TLTT   2"])):
    median, p99 = milliseconds(texts)
    print(f"line   {label:9} {count:5} exchanges: median {median:7.3f} ms, p99 {p99:7.3f} ms")
