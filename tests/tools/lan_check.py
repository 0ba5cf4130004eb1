"""Runs in the host namespace of a test LAN (see scripts/with-testlan.sh).

Broadcasts one search request to 255.255.255.255:57188, counts the replies on
port 54321 and checks that module namespace 2 (outside the host's subnet)
accepts a configuration request addressed by its MAC.
Usage: lan_check.py EXPECTED_REPLIES [ID_FILE]
"""
import os
import socket
import sys
import time

DEVICE_PORT = 57188
REPLY_PORT = 54321
SEARCH = b"VELKORQZ510,00\r"
COLLECT_S = 1.5


def fail(msg):
    print("lan_check: " + msg, file=sys.stderr)
    sys.exit(1)


def collect(rx, seconds, want=None):
    got = []
    end = time.monotonic() + seconds
    while time.monotonic() < end and (want is None or len(got) < want):
        rx.settimeout(max(0.01, end - time.monotonic()))
        try:
            got.append(rx.recv(4096))
        except socket.timeout:
            break
    return got


def field(reply, key):
    text = reply.decode("latin-1")
    start = text.index(key + "=") + len(key) + 1
    if key == "MAC":
        return text[start:start + 17]
    return text[start:text.index(",", start)]


def main():
    expected = int(sys.argv[1])
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as f:
            f.write(os.environ["TESTLAN_ID"] + "\n")

    rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    rx.bind(("0.0.0.0", REPLY_PORT))
    tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    tx.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)

    tx.sendto(SEARCH, ("255.255.255.255", DEVICE_PORT))
    replies = [r for r in collect(rx, COLLECT_S) if b"VELKORQZ510" in r]
    print("lan_check: %d replies" % len(replies))
    for r in replies:
        print("  " + repr(r))
    if len(replies) != expected:
        fail("expected %d replies" % expected)

    outside = [r for r in replies if field(r, "IP").startswith("198.19.")]
    if len(outside) != 1:
        fail("expected one reply from outside the host's subnet")
    mac = field(outside[0], "MAC")

    # Addressed by MAC, sent to broadcast: the module's own IP settings do not matter.
    tx.sendto(("VELKORQZ510,01,TO=%s,ALIAS=lan,IP=198.18.0.150,DHCP=0, \r" % mac.lower()).encode(),
              ("255.255.255.255", DEVICE_PORT))
    acks = [a for a in collect(rx, 2.0, want=1) if b"VELKORQZ510,81" in a]
    if acks != [b"VELKORQZ510,81,OK\r"]:
        fail("expected one OK acknowledgement, got %r" % acks)

    state = os.path.join(os.environ["TESTLAN_DIR"], "m2.state")
    with open(state) as f:
        text = f.read()
    if "alias=lan," not in text or "ip=198.18.0.150," not in text:
        fail("state file not updated: " + text)
    print("lan_check: ok")


main()
