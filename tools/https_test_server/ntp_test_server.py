#!/usr/bin/env python3
"""A local SNTP test server (Python 3 standard library only).

It binds UDP 127.0.0.1 on a free port and prints "PORT <n>" once it
listens. Each datagram is answered to its sender with 48 bytes (mode 4,
stratum 1, the transmit seconds of the mode) and recorded, one JSON object
a line, in --record: {"length": n, "hex": "...", "transmit": seconds}
("transmit" is null when nothing was sent back).

Modes (--mode, or the control file --control re-read for every datagram,
holding {"mode": ..., "value": ...}):
  offset N     transmit seconds = own clock + N (default, N = 0)
  absolute N   transmit seconds = N (seconds since 1900)
  silent       no answer
  short N      an answer of only N bytes
  zero         transmit seconds 0

The control file may also set header fields of the answer, for a server
that answers badly: "leap" (leap indicator, default 0), "ntpMode" (the
packet's mode, default 4, server) and "stratum" (default 1).
"""

import argparse
import json
import os
import socket
import struct
import sys
import time

NTP_TO_UNIX = 2208988800


HEADER_DEFAULTS = {"leap": 0, "ntpMode": 4, "stratum": 1}


def current_mode(args):
    """(mode, value, header fields)."""
    if args.control and os.path.exists(args.control):
        try:
            with open(args.control, encoding="utf-8") as f:
                control = json.load(f)
            header = {key: int(control.get(key, default)) for key, default in HEADER_DEFAULTS.items()}
            return control.get("mode", "offset"), int(control.get("value", 0)), header
        except (OSError, ValueError):
            pass
    return args.mode, args.value, dict(HEADER_DEFAULTS)


def reply(mode, value, header):
    """(answer bytes or None, transmit seconds or None)."""
    if mode == "silent":
        return None, None
    if mode == "absolute":
        seconds = value
    elif mode == "zero":
        seconds = 0
    else:
        seconds = int(time.time()) + NTP_TO_UNIX + (value if mode == "offset" else 0)
    seconds &= 0xFFFFFFFF
    packet = bytearray(48)
    # LI, version 3, mode (0x1C: LI 0, server)
    packet[0] = ((header["leap"] & 3) << 6) | (3 << 3) | (header["ntpMode"] & 7)
    packet[1] = header["stratum"] & 0xFF
    struct.pack_into("!II", packet, 32, seconds, 0)  # receive
    struct.pack_into("!II", packet, 40, seconds, 0)  # transmit
    if mode == "short":
        return bytes(packet[:value]), seconds
    return bytes(packet), seconds


def main():
    parser = argparse.ArgumentParser(description="local SNTP test server")
    parser.add_argument("--mode", default="offset", choices=("offset", "absolute", "silent", "short", "zero"))
    parser.add_argument("--value", type=int, default=0)
    parser.add_argument("--control", help="JSON file with mode and value, read per datagram")
    parser.add_argument("--record", help="JSON-lines file of the datagrams received")
    args = parser.parse_args()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 0))
    print("PORT %d" % sock.getsockname()[1], flush=True)
    while True:
        data, sender = sock.recvfrom(4096)
        mode, value, header = current_mode(args)
        answer, seconds = reply(mode, value, header)
        # Recorded before the answer: a client that has its answer finds it.
        if args.record:
            with open(args.record, "a", encoding="utf-8") as f:
                f.write(json.dumps({"length": len(data), "hex": data.hex(),
                                    "transmit": seconds if answer is not None else None}) + "\n")
        if answer is not None:
            sock.sendto(answer, sender)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        pass
