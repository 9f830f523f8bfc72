#!/usr/bin/python3
"""Times qvx-send and bench/send/send.py, each started as its own process, and prints a table.

    timing.py --send QVX_SEND --script SEND_PY --sims A B C D [--slow-sims A B C D --slow-delay MS]
              [--repetitions N]

Every time is read from CLOCK_MONOTONIC in this process: the start just before
posix_spawn, the exit when the process's pidfd turns readable. For the time to
the wire this process stands in for the projector on a pseudo-terminal of its
own, notes when the command's CR arrives and answers "0000" and CR at once, as
qvx-sim does; qvx-sim's --verbose log is no use here, as it stamps the wall
clock in whole milliseconds. The other figures run against the simulators given
(qvx-sim answering at once, and with --slow-sims ones answering after a delay).
Within a repetition every variant runs once, in an order that turns with each
repetition, so that a slow spell of the machine falls on all of them alike.
"""

import argparse
import math
import os
import select
import statistics
import sys
import time
import tty

STANDIN_COMMAND = b"TABN   1\r"
STANDIN_REPLY = b"0000\r"
# A client that has not exited by then has hung; it is killed and the run counted as failed.
RUN_LIMIT_SECONDS = 10
WARM_UP_RUNS = 3


def now_ms():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) / 1e6


class StandIn:
    """A projector on a pseudo-terminal of this process that notes when a command arrives."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        # Raw before the client opens it, as qvx-sim does; the slave stays open here so
        # that the master never reads as hung up between clients.
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        self.received = b""
        self.arrived_at = None

    def reset(self):
        self.received = b""
        self.arrived_at = None
        try:
            while os.read(self.master, 4096):
                pass
        except BlockingIOError:
            pass

    def read(self, at):
        try:
            self.received += os.read(self.master, 4096)
        except BlockingIOError:
            return
        if self.arrived_at is None and b"\r" in self.received:
            self.arrived_at = at
            os.write(self.master, STANDIN_REPLY)


class Run:
    """One process from its start to its exit, with what it printed."""

    def __init__(self, argv, standin=None):
        self.argv = argv
        self.standin = standin
        self.output = b""
        self.errors = b""
        self.status = None
        self.started_at = None
        self.exited_at = None

    def go(self):
        out_read, out_write = os.pipe()
        err_read, err_write = os.pipe()
        actions = [
            (os.POSIX_SPAWN_DUP2, out_write, 1),
            (os.POSIX_SPAWN_DUP2, err_write, 2),
        ]
        if self.standin:
            self.standin.reset()
        self.started_at = now_ms()
        pid = os.posix_spawn(self.argv[0], self.argv, os.environ, file_actions=actions)
        os.close(out_write)
        os.close(err_write)
        pidfd = os.pidfd_open(pid)
        poller = select.poll()
        for fd in (pidfd, out_read, err_read) + ((self.standin.master,) if self.standin else ()):
            poller.register(fd, select.POLLIN)
        open_pipes = {out_read, err_read}
        deadline = self.started_at + RUN_LIMIT_SECONDS * 1000
        while self.exited_at is None or open_pipes:
            events = poller.poll(None if deadline == math.inf else max(0, deadline - now_ms()))
            at = now_ms()
            if not events and self.exited_at is None:
                os.kill(pid, 9)
                self.errors += b"killed after %d s\n" % RUN_LIMIT_SECONDS
                deadline = math.inf
                continue
            for fd, _ in events:
                if self.standin and fd == self.standin.master:
                    self.standin.read(at)
                elif fd == pidfd:
                    self.exited_at = at
                    poller.unregister(pidfd)
                else:
                    data = os.read(fd, 65536)
                    if data:
                        if fd == out_read:
                            self.output += data
                        else:
                            self.errors += data
                    else:
                        poller.unregister(fd)
                        open_pipes.discard(fd)
        _, wait_status = os.waitpid(pid, 0)
        self.status = os.waitstatus_to_exitcode(wait_status)
        for fd in (pidfd, out_read, err_read):
            os.close(fd)
        return self

    def ok(self, ports=1):
        lines = [line for line in self.output.decode("latin-1").splitlines() if line.strip()]
        return self.status == 0 and len(lines) == ports

    def wire_ms(self):
        return self.standin.arrived_at - self.started_at

    def total_ms(self):
        return self.exited_at - self.started_at


class Figure:
    """The times of one variant over all repetitions, and the runs that went wrong."""

    def __init__(self):
        self.values = []
        self.failures = []

    def add(self, value, runs, ports=1):
        bad = [run for run in runs if not run.ok(ports)]
        if bad:
            self.failures.append(bad[0])
        else:
            self.values.append(value)

    def median(self):
        return statistics.median(self.values) if self.values else math.nan

    def p90(self):
        if not self.values:
            return math.nan
        ordered = sorted(self.values)
        return ordered[math.ceil(0.9 * len(ordered)) - 1]

    def text(self):
        if not self.values:
            return "no run succeeded"
        failed = f" ({len(self.failures)} failed)" if self.failures else ""
        return f"{self.median():7.1f} / {self.p90():7.1f}{failed}"


def ratio(slow, fast):
    value = slow.median() / fast.median()
    return "" if math.isnan(value) else f"{value:.1f}x"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--send", required=True)
    parser.add_argument("--script", required=True)
    parser.add_argument("--sims", nargs=4, required=True)
    parser.add_argument("--slow-sims", nargs=4)
    parser.add_argument("--slow-delay", type=int, default=0)
    parser.add_argument("--repetitions", type=int, default=40)
    arguments = parser.parse_args()

    send = os.path.abspath(arguments.send)
    script = os.path.abspath(arguments.script)
    standin = StandIn()
    sims = arguments.sims

    def one_port(program, port):
        if program == "send":
            return [send, "--port", port, "pj-status"]
        return [script, "--port", port, "pj-status"]

    def ports(program, endpoints, threads=False):
        argv = [send if program == "send" else script]
        for endpoint in endpoints:
            argv += ["--port", endpoint]
        if threads:
            argv.append("--threads")
        return argv + ["pj-status"]

    figures = {}

    def figure(key):
        return figures.setdefault(key, Figure())

    def standin_runs(program):
        run = Run(one_port(program, standin.path), standin).go()
        got = standin.received == STANDIN_COMMAND and standin.arrived_at is not None
        if got:
            figure(f"wire {program}").add(run.wire_ms(), [run])
        else:
            run.errors += b"the stand-in received %r\n" % standin.received
            figure(f"wire {program}").failures.append(run)
        figure(f"standin exit {program}").add(run.total_ms(), [run])

    def sequential(key, argvs, ports_each=1):
        runs = [Run(argv).go() for argv in argvs]
        figure(key).add(runs[-1].exited_at - runs[0].started_at, runs, ports_each)

    def single(key, argv, ports=1):
        run = Run(argv).go()
        figure(key).add(run.total_ms(), [run], ports)

    def four(tag, endpoints):
        return [
            lambda: single(f"{tag} send 1", one_port("send", endpoints[0])),
            lambda: single(f"{tag} send 4 ports", ports("send", endpoints), 4),
            lambda: sequential(f"{tag} send 4 calls", [one_port("send", e) for e in endpoints]),
            lambda: single(f"{tag} py 1", one_port("py", endpoints[0])),
            lambda: single(f"{tag} py 4 ports", ports("py", endpoints), 4),
            lambda: single(f"{tag} py 4 threads", ports("py", endpoints, threads=True), 4),
            lambda: sequential(f"{tag} py 4 calls", [one_port("py", e) for e in endpoints]),
        ]

    variants = [
        lambda: standin_runs("send"),
        lambda: standin_runs("py"),
        # What starting costs before any port: loading the libraries, or the interpreter and pyserial.
        lambda: single("load send", [send, "--version"]),
        lambda: single("load py", ["/usr/bin/python3", "-c", "import serial"], 0),
    ] + four("sim", sims)
    if arguments.slow_sims:
        variants += four("slow", arguments.slow_sims)

    for program in ("send", "py"):
        for _ in range(WARM_UP_RUNS):
            Run(one_port(program, sims[0])).go()
    figures.clear()

    load_before = open("/proc/loadavg").read().split()[:3]
    for repetition in range(arguments.repetitions):
        turn = repetition % len(variants)
        for variant in variants[turn:] + variants[:turn]:
            variant()
    load_after = open("/proc/loadavg").read().split()[:3]

    model = "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    print(f"Machine: {os.cpu_count()} cores, {model}")
    print(
        f"{arguments.repetitions} repetitions of each, after {WARM_UP_RUNS} unmeasured runs of each program;"
        " times in ms from the start of the process, median / p90"
    )
    width = 54
    row = "| {:<%d} | {:<18} | {:<18} | {:<8} | {:<22} |" % width
    print(row.format("Figure", "qvx-send", "send.py (pyserial)", "py / qvx", "goal"))
    print(row.format("-" * width, "-" * 18, "-" * 18, "-" * 8, "-" * 22))

    def both(label, fast_key, slow_key, goal=""):
        fast, slow = figure(fast_key), figure(slow_key)
        print(row.format(label, fast.text(), slow.text(), ratio(slow, fast), goal))

    both("Start to exit, loading only (note 1)", "load send", "load py")
    both("Start to the command on the wire (stand-in pty)", "wire send", "wire py", "under 10 ms")
    both("Start to exit, stand-in answering at once", "standin exit send", "standin exit py")
    both("Start to exit, pj-status, qvx-sim answering at once", "sim send 1", "sim py 1", "py / qvx 5 or more")
    tags = [("sim", "at once")]
    if arguments.slow_sims:
        tags.append(("slow", f"after {arguments.slow_delay} ms"))
    for tag, how in tags:
        print()
        print(f"Four simulators answering {how}, pj-status on each; start of the first process to exit of the last")
        fours = "| {:<%d} | {:<17} | {:<17} | {:<22} |" % width
        print(fours.format("Figure", "median / p90", "to its one port", "goal"))
        print(fours.format("-" * width, "-" * 17, "-" * 17, "-" * 22))
        for key, label, goal in [
            ("send 1", "qvx-send, one port", ""),
            ("send 4 ports", "qvx-send, four --port in one call", "about one port's time"),
            ("send 4 calls", "qvx-send, four calls one after another", ""),
            ("py 1", "send.py, one port", ""),
            ("py 4 ports", "send.py, four ports one after another, one call", ""),
            ("py 4 threads", "send.py --threads, four ports, one call", ""),
            ("py 4 calls", "send.py, four calls one after another", ""),
        ]:
            one = figure(f"{tag} {key.split()[0]} 1")
            print(fours.format(label, figure(f"{tag} {key}").text(), ratio(figure(f"{tag} {key}"), one), goal))
    print()
    print(
        "Note 1: qvx-send --version beside /usr/bin/python3 -c 'import serial': the cost of starting"
        " before any port is opened."
    )
    print(f"Load average before: {' '.join(load_before)}, after: {' '.join(load_after)}")

    failed = [(key, run) for key, fig in figures.items() for run in fig.failures]
    if failed:
        print(f"\n{len(failed)} runs failed; the first of each figure:")
        for key, fig in figures.items():
            if fig.failures:
                run = fig.failures[0]
                print(f"  {key}: {' '.join(run.argv)}: exit status {run.status}")
                for line in (run.output + run.errors).decode("latin-1", "replace").splitlines()[:5]:
                    print(f"    {line}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
