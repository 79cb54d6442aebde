#!/usr/bin/env python3
"""A small Velmora map client, written from docs/protocol.md and Python's standard library alone.

It logs into one network, then runs commands, given as arguments or, with none, read one per line
from standard input, and prints what the server sends in plain words:

  pos X,Y,FACET,HP[,INBATTLE,ISDEAD]   report a position
  say TEXT                             chat
  list                                 ask where the others are
  expect TEXT                          wait until a printed line contains TEXT (--timeout)
  wait SECONDS                         pause, printing what arrives
  admin?                               ask whether this user is an administrator
  kick NAME REASON | ban NAME REASON | announce TEXT | bans | unban ID   (administrators)
  quit                                 close the connection

Exit status: 0 after the commands (or quit), 1 when log-in failed, an expect timed out or the
connection ended (kicked or banned too), 2 when no connection could be made.

  examples/map_client.py -p 5000 -n Sample -w sample -u Bob "pos 10,20,3,57" "say hi" "wait 5"
"""
import argparse
import hashlib
import socket
import struct
import sys
import threading
import time

HEADER = struct.Struct(">ii")  # length (header included), code; both big-endian signed 32-bit
LONGEST_FRAME = 1 << 20

# Codes the server sends (docs/protocol.md, section 4).
PROMPT, NETWORK_RESULT, PASSWORD_RESULT, NAME_RESULT = 1, 2, 3, 4
POSITION, LEFT, CHAT, ADMIN_ANSWER, BAN_LIST = 5, 6, 7, 9, 13
KICKED, BANNED, ANNOUNCEMENT, GOODBYE = 996, 997, 998, 999
DIALOGUE = {PROMPT, NETWORK_RESULT, PASSWORD_RESULT, NAME_RESULT}


def shown(data):
    """Payload bytes as printable text: UTF-8 where it is, control bytes as \\xNN."""
    text = data.decode("utf-8", errors="backslashreplace")
    return "".join(c if c.isprintable() else "\\x%02x" % ord(c) for c in text)


class Ended(Exception):
    pass


class MapClient:
    def __init__(self, host, port, timeout):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.settimeout(None)
        self.timeout = timeout
        self.lock = threading.Condition()
        self.answers = []  # dialogue answers: (code, payload)
        self.lines = []  # every line printed, for expect
        self.ended = None  # why the connection ended, once it has
        self.closing = False  # this side is closing: the end is no news
        self.reader = threading.Thread(target=self.read_frames, daemon=True)
        self.reader.start()

    # Sending and receiving frames.

    def send(self, code, payload=b""):
        if isinstance(payload, str):
            payload = payload.encode("utf-8")
        self.sock.sendall(HEADER.pack(HEADER.size + len(payload), code) + payload)

    def receive_exactly(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise Ended("connection closed by the server")
            data += chunk
        return data

    def read_frames(self):
        try:
            while True:
                length, code = HEADER.unpack(self.receive_exactly(HEADER.size))
                if not HEADER.size <= length <= LONGEST_FRAME:
                    raise Ended("bad frame length %d from the server" % length)
                data = self.receive_exactly(length - HEADER.size)
                try:
                    self.handle(code, data)
                except ValueError:  # a payload not laid out as documented
                    self.say("odd message %d: %s" % (code, shown(data)))
        except (Ended, OSError) as error:
            with self.lock:
                if self.ended is None and not self.closing:
                    self.ended = str(error) if isinstance(error, Ended) else "connection lost"
                    self.say(self.ended)
                self.lock.notify_all()

    # What arrives, in plain words.

    def say(self, line):
        with self.lock:
            print(line, flush=True)
            self.lines.append(line)
            self.lock.notify_all()

    def handle(self, code, data):
        if code in DIALOGUE:
            with self.lock:
                self.answers.append((code, data))
                self.lock.notify_all()
        elif code == POSITION:
            name, _, numbers = data.rpartition(b"|")
            fields = numbers.split(b",")
            if len(fields) != 6:
                return self.say("odd position: " + shown(data))
            x, y, facet, hp, battle, dead = (int(f) for f in fields)
            state = (", in battle" if battle else "") + (", dead" if dead else "")
            self.say("%s is at %d,%d on facet %d, %d HP%s" % (shown(name), x, y, facet, hp, state))
        elif code == LEFT:
            self.say("%s left" % shown(data))
        elif code == CHAT:
            name, _, text = data.partition(b"\0")
            self.say("%s says: %s" % (shown(name), shown(text)))
        elif code == ADMIN_ANSWER:
            self.say("administrator: " + ("yes" if data == b"1" else "no"))
        elif code == BAN_LIST:
            rows = [row for row in data.split(b"\0") if row]
            for row in rows:
                ban_id, address, by, rest = row.split(b"|", 3)
                reason, when = rest.rsplit(b"|", 1)
                self.say("ban %s: %s by %s, %s: %s" % tuple(shown(f) for f in (ban_id, address, by, when, reason)))
            if not rows:
                self.say("no bans")
        elif code in (KICKED, BANNED):
            self.say(("kicked: " if code == KICKED else "banned: ") + shown(data))
            with self.lock:
                self.ended = "removed by an administrator"
                self.lock.notify_all()
            self.sock.shutdown(socket.SHUT_RDWR)  # leave, whether or not the server closes
        elif code == ANNOUNCEMENT:
            self.say("announcement: " + shown(data))
        elif code == GOODBYE:
            self.say("server said goodbye")
        else:
            self.say("unknown message %d: %s" % (code, shown(data)))

    # Waiting.

    def wait_for(self, ready, what):
        with self.lock:
            if not self.lock.wait_for(lambda: ready() or self.ended, self.timeout):
                raise Ended("timed out waiting for " + what)
            if not ready():
                raise Ended(self.ended)

    def answer(self, code):
        def ready():
            return any(c == code for c, _ in self.answers)
        self.wait_for(ready, "answer %d" % code)
        with self.lock:
            at = next(i for i, (c, _) in enumerate(self.answers) if c == code)
            return self.answers.pop(at)[1]

    # The log-in dialogue (docs/protocol.md, section 5).

    def log_in(self, network, password, user):
        if self.answer(PROMPT) != b"Network":
            raise Ended("no network prompt")
        self.send(1, network)
        if self.answer(NETWORK_RESULT) != b"OK":
            raise Ended("refused: network %s (unknown, disabled or full)" % network)
        self.send(2, hashlib.md5(password.encode("utf-8")).digest())
        if self.answer(PASSWORD_RESULT) != b"OK":
            raise Ended("refused: password")
        self.send(3, user)
        if self.answer(NAME_RESULT) != b"OK":
            raise Ended("refused: user name %s (in use, not allowed, or banned)" % user)
        self.say("logged in as %s on %s" % (user, network))

    def run(self, command):
        word, _, rest = command.strip().partition(" ")
        if word == "pos":
            self.send(4, rest.strip())
        elif word == "say":
            self.send(7, rest)
        elif word == "list":
            self.send(5)
        elif word == "admin?":
            self.send(9)
        elif word in ("kick", "ban"):
            name, _, reason = rest.partition(" ")
            self.send(10 if word == "kick" else 11, name + "|" + reason)
        elif word == "announce":
            self.send(12, rest)
        elif word == "bans":
            self.send(13)
        elif word == "unban":
            self.send(14, rest.strip())
        elif word == "expect":
            self.wait_for(lambda: any(rest in line for line in self.lines), repr(rest))
        elif word == "wait":
            time.sleep(float(rest))
        elif word == "quit":
            return False
        elif word:
            self.say("unknown command: " + word)
        return self.ended is None

    def close(self):
        with self.lock:
            self.closing = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        self.reader.join(2)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("-H", "--host", default="127.0.0.1")
    parser.add_argument("-p", "--port", type=int, default=5000)
    parser.add_argument("-n", "--network", required=True)
    parser.add_argument("-w", "--password", required=True)
    parser.add_argument("-u", "--user", required=True)
    parser.add_argument("-t", "--timeout", type=float, default=10, help="seconds to wait for an answer or an expect")
    parser.add_argument("commands", nargs="*", help="commands to run; none: read them from standard input")
    args = parser.parse_args()

    try:
        client = MapClient(args.host, args.port, args.timeout)
    except OSError as error:
        print("cannot connect to %s:%d: %s" % (args.host, args.port, error), flush=True)
        return 2
    try:
        client.log_in(args.network, args.password, args.user)
        for command in args.commands or sys.stdin:
            if not client.run(command):
                break
        return 0 if client.ended is None else 1
    except Ended as error:
        if str(error) != client.ended:  # the reader has said it already
            client.say(str(error))
        return 1
    finally:
        client.close()


if __name__ == "__main__":
    sys.exit(main())
