#!/usr/bin/env python3
"""Runs a Windows test program under Wine against scripted cash registers on pseudo-terminals.

For each port number given, a pty is created and $WINEPREFIX/dosdevices/com<N> is linked to it,
so the program opens it as \\\\.\\COM<N>. A thread per pty answers each request frame according to
its command code (the table in answer()); some commands make the device restart or go away for a
while, as a register on USB does: the link is then re-pointed to a new pty. The program learns the
port numbers from VESKLINK_TEST_PORTS. The exit status is the program's.
"""
import argparse
import os
import select
import subprocess
import sys
import termios
import threading
import time


def reply_frame(command, status, data=b""):
    length = 4 + len(data)
    body = bytes([length & 0xFF, length >> 8, command, status & 0xFF, status >> 8, 0]) + bytes(data)
    total = sum(body)
    checksum = (total ^ (total >> 8) ^ (total >> 16) ^ (total >> 24)) & 0xFF
    return bytes([0x06, 0x01]) + body + bytes([checksum])


class Peer(threading.Thread):
    def __init__(self, port, link):
        super().__init__(daemon=True)
        self.port = port
        self.link = link
        self.generation = 1  # counts the restarts: which device answers
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        self.stop = False
        self.cooked()
        self.restart = None  # (delay, away) of a restart the last request asked for

    def point_link(self):
        """Points the COM link at the current pty in one step, as udev re-points a device name."""
        fresh = self.link + ".new"
        if os.path.lexists(fresh):
            os.remove(fresh)
        os.symlink(self.path, fresh)
        os.replace(fresh, self.link)

    def replug(self, away):
        """The device restarts: a new pty under the link, then the old one closes. With `away`,
        the old one closes and the link goes first, and the device comes back after that many
        seconds."""
        old = (self.master, self.slave)
        if away:
            for fd in old:
                os.close(fd)
            os.remove(self.link)
            time.sleep(away)
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)
        self.cooked()
        self.point_link()
        if not away:
            for fd in old:
                os.close(fd)
        self.generation += 1

    def cooked(self):
        """Puts the line back the way a fresh terminal starts: canonical, echo, XON/XOFF."""
        attrs = termios.tcgetattr(self.slave)
        attrs[0] |= termios.IXON | termios.IXOFF | termios.ICRNL
        attrs[1] |= termios.OPOST | termios.ONLCR
        attrs[3] |= termios.ICANON | termios.ECHO | termios.ISIG
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)

    def send(self, data):
        while data:
            _, ready, _ = select.select([], [self.master], [], 1.0)
            if ready:
                data = data[os.write(self.master, data):]

    def answer(self, request):
        command = request[3]
        payload = request[8:-1]
        if command == 0x13:  # device test; the data is the request as it arrived
            return reply_frame(0x13, 0, request)
        if command == 0x11:  # echo of the payload
            return reply_frame(0x11, 0, payload)
        if command == 0x40:  # noise before the ACK and between the ACK and the start byte
            frame = reply_frame(0x40, 0, b"\xAA")
            return b"\x00\xFF\x01\x13\x02" + b"\x06" + b"\x00\xFF\x13" + frame[1:]
        if command == 0x41:  # the reply, then a late frame that belongs to no request
            return reply_frame(0x41, 0) + reply_frame(0x77, 0x4444, b"\x09\x09\x09")
        if command == 0x42:
            return reply_frame(0x42, 0x1234, b"\x01\x02\x03")
        if command == 0x43:  # complete, status 0, but only eight bytes
            return bytes([0x06, 0x01, 0x03, 0x00, 0x43, 0x00, 0x00, 0x46])
        if command == 0x44:
            return b"\x15"
        if command == 0x45:
            return b""
        if command == 0x46:  # cut after nine bytes
            return reply_frame(0x46, 0, bytes(30))[:9]
        if command == 0x47:  # a reply after 3 ms of processing
            time.sleep(0.003)
            return reply_frame(0x47, 0, b"\x47")
        if command == 0x48:  # a reply that begins 9.5 ms after the request, a byte every 0.2 ms
            time.sleep(0.0095)
            for byte in reply_frame(0x48, 0, b"\x48"):
                self.send(bytes([byte]))
                time.sleep(0.0002)
            return b""
        if command == 0x70:  # five bytes outside any frame
            return bytes([0xA1, 0xA2, 0xA3, 0xA4, 0xA5])
        if command == 0x72:  # the same, 40 ms late
            time.sleep(0.04)
            return bytes([0xA1, 0xA2, 0xA3, 0xA4, 0xA5])
        if command == 0x71:  # which port answers
            return reply_frame(0x71, 0, bytes([self.port]))
        if command == 0x73:  # which device answers: 1, then one more after each restart
            return reply_frame(0x73, 0, bytes([self.generation]))
        if command == 0x7A:  # restarts 50 ms after the reply
            self.restart = (0.05, 0)
            return reply_frame(0x7A, 0)
        if command == 0x7B:  # goes away 50 ms after the reply, for 1.5 s
            self.restart = (0.05, 1.5)
            return reply_frame(0x7B, 0)
        if command == 0x7C:  # restarts 100 ms after the request, without a reply
            self.restart = (0.1, 0)
            return b""
        if command == 0xFF:
            return reply_frame(0xFF, 0, bytes((i * 7) & 0xFF for i in range(300)))
        return reply_frame(command, 0x0001)

    def run(self):
        pending = b""
        while not self.stop:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                continue
            pending += chunk
            while True:
                start = pending.find(b"\x01")
                if start < 0:
                    pending = b""
                    break
                pending = pending[start:]
                if len(pending) < 3:
                    break
                total = 4 + pending[1] + (pending[2] << 8)
                if len(pending) < total:
                    break
                request, pending = pending[:total], pending[total:]
                answer = self.answer(request)
                if answer:
                    self.send(answer)
                if self.restart:
                    delay, away = self.restart
                    self.restart = None
                    time.sleep(delay)
                    self.replug(away)
                    pending = b""
                    break


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True, help="source tree (scripts/ lives there)")
    parser.add_argument("--ports", required=True, help="COM port numbers, comma-separated")
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = [a for a in args.program if a != "--"]

    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(args.root, "build", "wine"))
    env["WINEDEBUG"] = "-all"
    prefix = env["WINEPREFIX"]
    scripts = os.path.join(args.root, "scripts")
    # The prefix exists, its default COM links are gone, and one server stays up for the whole
    # run, so Wine does not recreate its own links under ours.
    # The server and the prefix's services start detached from our output, or they would hold the
    # caller's pipe open after the tests end.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["bash", os.path.join(scripts, "wine-prefix.sh")], env=env, check=True, **quiet)
    subprocess.run(["wineserver", "-p"], env=env, check=False, **quiet)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, check=False, **quiet)

    ports = [int(p) for p in args.ports.split(",")]
    peers = [Peer(p, os.path.join(prefix, "dosdevices", "com%d" % p)) for p in ports]
    links = [peer.link for peer in peers]
    for peer in peers:
        peer.point_link()
        peer.start()
    env["VESKLINK_TEST_PORTS"] = ",".join(str(p) for p in ports)
    try:
        result = subprocess.run(["bash", os.path.join(scripts, "wine-run.sh")] + program, env=env)
    finally:
        for peer in peers:
            peer.stop = True
        for link in links:
            if os.path.lexists(link):
                os.remove(link)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
