#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds follow the input layout each target reads; rerun this after changing a layout. The
input of each fault found while fuzzing is kept as corpus/<target>/regression-<what>; those
written here are rebuilt in the current layout, others are kept as they were found.
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def frame(command, data=b""):
    return struct.pack(">ii", 8 + len(data), command) + data


# --- dispatcher: actions of DispatcherFuzzer.cpp -------------------------------------------
ADDRESSES = ["10.0.0.1", "10.0.0.2", "10.0.0.3", "::1", "127.0.0.1"]
NETWORKS = ["Lobby", "lobby", "Arena", "ARENA", "(all networks)", "Off", "Zero", "Nowhere", ""]
PASSWORDS = ["pw", "", "x", "PW"]
USERS = ["Root", "root", "Ann", "Bob", "Boss", "Op", "Mallory", "ann"]
COMMANDS = [1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 999, 6, 8, 0]


def text(data):
    data = data.encode() if isinstance(data, str) else data
    return bytes([len(data)]) + data


def choose(values, value):
    """A listed value by its index, any other as the byte 255 and the text."""
    return bytes([values.index(value)]) if value in values else b"\xff" + text(value)


def connect(listener, address):
    return bytes([0, listener, ADDRESSES.index(address)])


def burst(peer, *messages):
    """Messages sent in one piece; each message is (command, argument)."""
    out = bytes([1, peer, len(messages) - 1])
    for command, argument in messages:
        out += bytes([COMMANDS.index(command)])
        if command == 1:
            out += bytes([NETWORKS.index(argument)])
        elif command == 2:
            out += bytes([PASSWORDS.index(argument)])
        elif command == 3:
            out += choose(USERS, argument)
        elif command == 4:
            out += bytes([1]) + text(argument)  # numbered: X is the sequence number
        elif command in (10, 11):
            user, reason = argument
            out += bytes([USERS.index(user)]) + text(reason)
        elif command == 14:
            out += bytes([1, argument])
        else:
            out += text(argument)
    return out + bytes([0])


def login(peer, network, password, user):
    return burst(peer, (1, network), (2, password), (3, user))


DRAIN, PASS = bytes([8]), bytes([7])


def drop(peer):
    return bytes([6, peer])


def raw(peer, data):
    return bytes([5, peer]) + text(data)


def dispatcher_seeds():
    write("dispatcher", "relay-and-chat",
          connect(0, "10.0.0.2") + connect(0, "10.0.0.1") + connect(0, "10.0.0.3") +
          login(0, "Lobby", "pw", "Ann") + DRAIN + login(1, "lobby", "pw", "Bob") + DRAIN +
          burst(2, (1, "Lobby")) + DRAIN +
          burst(0, (4, "20,1,50,0,0"), (4, "21,1,50,1,0"), (7, "hello")) +
          burst(1, (5, ""), (4, "-1,0,0,0,0,0"), (999, "")) + DRAIN + drop(0) + DRAIN)
    write("dispatcher", "admin-kick-ban-list-lift",
          connect(0, "10.0.0.1") + connect(0, "10.0.0.2") + connect(0, "10.0.0.2") +
          login(0, "Lobby", "pw", "Root") + DRAIN + login(1, "Lobby", "pw", "Ann") + DRAIN +
          burst(0, (9, ""), (10, ("ann", "spam")), (11, ("Ann", "cheat")), (13, "")) + DRAIN +
          login(2, "Lobby", "pw", "Bob") + DRAIN +
          burst(0, (14, 1), (13, ""), (12, "news")) + DRAIN +
          login(2, "Lobby", "pw", "Bob") + DRAIN)
    write("dispatcher", "full-network-and-reselect",
          connect(0, "::1") + connect(1, "::1") + connect(0, "10.0.0.1") +
          burst(0, (1, "Arena")) + burst(1, (1, "ARENA")) + burst(2, (1, "Arena")) + DRAIN +
          drop(1) + DRAIN + burst(2, (1, "Arena"), (2, ""), (3, "Boss")) + DRAIN +
          burst(0, (1, "Off"), (1, "Zero"), (1, "Nowhere"), (1, "Arena")) + DRAIN)
    write("dispatcher", "two-listeners",
          connect(0, "10.0.0.2") + connect(1, "10.0.0.1") + connect(1, "127.0.0.1") +
          login(0, "Lobby", "pw", "Ann") + login(1, "Lobby", "pw", "Ann") +
          login(2, "Lobby", "pw", "ann") + DRAIN +
          burst(1, (4, "5,5,5,5,0,0"), (7, "only here")) + burst(0, (5, "")) + DRAIN)
    write("dispatcher", "broken-framing-mid-session",
          connect(0, "10.0.0.2") + connect(0, "10.0.0.1") +
          login(0, "Lobby", "pw", "Ann") + login(1, "Lobby", "pw", "Bob") + DRAIN +
          burst(0, (4, "1,2,3,4,0,0")) + raw(0, b"\x00\x00\x00\x03junk") + PASS +
          burst(1, (7, "still here")) + DRAIN)
    write("dispatcher", "all-networks-announce",
          connect(0, "127.0.0.1") + connect(0, "10.0.0.2") + connect(0, "::1") +
          login(0, "(all networks)", "x", "Op") + login(1, "Lobby", "pw", "Ann") +
          login(2, "Arena", "", "Boss") + DRAIN +
          burst(0, (12, "to everyone"), (9, "")) + burst(2, (12, "arena only")) + DRAIN +
          login(1, "Lobby", "PW", "Ann") + DRAIN)
    # Regression case: a name with a NUL byte used to be registered cut short, as "Ann".
    write("dispatcher", "regression-nul-in-name",
          connect(0, "10.0.0.2") + connect(0, "::1") +
          login(0, "Lobby", "pw", "Ann\x00x") + DRAIN + login(1, "Lobby", "pw", "Ann") + DRAIN +
          burst(0, (7, "from the cut name")) + DRAIN)


# --- frame_cutter: FrameCutterFuzzer.cpp ----------------------------------------------------
def frames_stream(records, pieces):
    """Structured stream: records are (command, data) or bytes of stray data."""
    out = bytes([1, len(records) - 1])
    for record in records:
        if isinstance(record, bytes):
            out += bytes([0]) + text(record)
        else:
            command, data = record
            out += bytes([1]) + struct.pack(">i", command) + text(data)
    return out + bytes(pieces)


def raw_stream(data, pieces):
    return bytes([0, len(data) & 255, len(data) >> 8]) + data + bytes(pieces)


def frame_cutter_seeds():
    write("frame_cutter", "frames-in-pieces",
          frames_stream([(1, b"Lobby"), (4, b"10,20,3,100,1,0"), (7, b""), (-1, b"\x00" * 9)],
                        [3, 0x85, 1, 1, 1, 0x90, 0]))
    write("frame_cutter", "stray-bytes-between",
          frames_stream([(2, b"OK"), b"\x00\x00", (999, b"BYE")], [0x81, 0]))
    write("frame_cutter", "bad-length-after-frames",
          raw_stream(frame(5) + frame(6, b"x") + b"\x00\x00\x00\x07" + frame(7, b"never"),
                     [4, 0x8B, 2, 0]))
    write("frame_cutter", "oversized-and-negative",
          raw_stream(struct.pack(">ii", (1 << 20) + 1, 1) + b"\xff\xff\xff\xff", [0x80, 0]))
    write("frame_cutter", "largest-length-waits",
          raw_stream(struct.pack(">ii", 1 << 20, 3) + b"partial", [0]))


# --- network_file: NetworkFileFuzzer.cpp -----------------------------------------------------
FILE_NAMES = ["Bob", "ann", "ROOT", "", "Mallory"]
FILE_ADDRESSES = ["10.0.0.5", "::1", "127.0.0.1", ""]


def network_file(name, address, content):
    chosen = bytes([FILE_NAMES.index(name)]) if name in FILE_NAMES else b"\xff" + text(name)
    return chosen + bytes([FILE_ADDRESSES.index(address)]) + content


def utf16(content):
    return b"\xff\xfe" + content.encode("utf-16-le")


def network_file_seeds():
    layout = (b'<?xml version="1.0" encoding="UTF-8"?>\r\n'
              b"<!-- the guild's network -->\r\n"
              b'<networks><network name="Guild" password="s3cret" maxusers="25" enabled="1" '
              b'port="4500">\r\n'
              b'    <User Name="Root" LastIP="10.0.0.1" UID="u-1" IsAdmin="1"/>\r\n'
              b'    <User Name="Ann" LastIP="10.0.0.2" IsBanned="1" BanBy="Root" '
              b'BanDate="yesterday" BanReason="spam &amp; more"/>\r\n'
              b"    <!-- old members -->\r\n"
              b'    <user name="lower" LastIP="1.1.1.1"><User Name="nested"/></user>\r\n'
              b'    <User Name="ann" LastIP="10.0.0.3">text</User>\r\n'
              b"</network></networks>\r\n")
    write("network_file", "layout-new-user", network_file("Bob", "10.0.0.5", layout))
    write("network_file", "layout-known-user", network_file("ann", "::1", layout))
    write("network_file", "utf16",
          network_file("ROOT", "127.0.0.1",
                       utf16('<n>\r\n<network name="Wide">\r\n<User Name="Root"/>\r\n'
                             '</network>\r\n</n>\r\n')))
    write("network_file", "self-closing-network",
          network_file("Mallory", "10.0.0.5", b'<n><network name="Tiny" enabled="1.0"/></n>'))
    write("network_file", "not-a-network", network_file("Bob", "::1", b"<networks/>"))
    # Regression cases found by fuzzing (see the commit that fixed each).
    write("network_file", "regression-nul-in-name",
          network_file("Ann\x00x", "10.0.0.5", b'<n><network name="N"><User Name="Ann"/>'
                                                b"</network></n>"))
    write("network_file", "regression-latin1-name",
          network_file("B\xf6b", "10.0.0.5",
                       b'<?xml version="1.0" encoding="ISO-8859-1"?>\n<r><network name="N\xe9" '
                       b'enabled="1"><User Name="J\xf6rg" LastIP="1.1.1.1"/></network></r>\n'))
    write("network_file", "regression-utf16-name",
          network_file("B\xf6b", "10.0.0.5", utf16('<r><n name="N"/></r>')))
    write("network_file", "regression-broken-declaration",
          network_file("B\xf6b", "10.0.0.5",
                       b'<?xml v\x18ersion="1.0" encoding="ISO-8859-1"?>\n<r><network name="N">'
                       b"</network></r>\n"))
    write("network_file", "regression-text-before-declaration",
          network_file("B\xf6b", "10.0.0.5",
                       b'&<?xml version="1.0" encoding="ISO-8859-1"?>\n<r><network name="N\xe9"'
                       b' enabled="+"><User Name="J\xf6rg" LstIP="2.1.1.1"/></network></r>\n'))
    # Names that a file of their encoding cannot hold, and files whose encoding cannot write
    # back what their character references stand for: each rewrite made a file ill-formed.
    write("network_file", "regression-ff-in-utf8-name",
          network_file(b"\xff", "10.0.0.5", b'<n><network name="N"></network></n>'))
    write("network_file", "regression-escape-in-name",
          network_file(b"Esc\x1b", "10.0.0.5", b'<n><network name="N"></network></n>'))
    write("network_file", "regression-latin1-reference",
          network_file("Bob", "10.0.0.5",
                       b'<?xml version="1.0" encoding="ISO-8859-1"?><n><network name="&#x100;">'
                       b"</network></n>"))
    write("network_file", "regression-ascii-reference",
          network_file("Bob", "10.0.0.5",
                       b'<?xml version="1.0" encoding="US-ASCII"?><n><network name="&#xE9;">'
                       b"</network></n>"))
    # A lone high surrogate (and the control character after it, which the writer turned into
    # a reference XML forbids) passed the well-formedness check of a UTF-16 file.
    write("network_file", "regression-utf16-lone-surrogate",
          network_file("ROOT", "127.0.0.1",
                       b"\xff\xfe" + ('<n>\ubf0d\n<network name="Wide">\r\n'
                                     '<User Name="Root\ud800\x07"/>\r\n</network>\r\n</n>\r\n')
                       .encode("utf-16-le", "surrogatepass")))
    write("network_file", "regression-duplicate-attribute",
          network_file("Bob", "10.0.0.5",
                       b'<n><network name="N" password="old" password="new"></network></n>'))


# --- settings: SettingsFuzzer.cpp ------------------------------------------------------------
def settings(mode, set_pair, ask_pair, content):
    out = bytes([mode])
    for part in set_pair + ask_pair:
        out += text(part)
    return out + content


def settings_seeds():
    usual = (b'<?xml version="1.0"?>\n<settings>\n  <setting namestring="Port" valuestring="12000"/>'
             b'\n  <setting namestring="AttachedNIC" valuestring="00:1A:2B:3C:4D:5E"/>\n'
             b"</settings>\n")
    write("settings", "usual", settings(1, ("", ""), ("AttachedNIC", "x"), usual))
    write("settings", "first-start", settings(6, ("Port", "12001"), ("AttachedNIC", "mac"), b""))
    write("settings", "other-names-and-twice",
          settings(7, ("Extra", "a&b<c>\"d\""), ("Other", "\t line\nbreak"),
                   b'<s><entry namestring="Port" valuestring="1"/><!-- note -->'
                   b'<setting namestring="Port" valuestring="2"/>'
                   b'<setting namestring="Keep" valuestring=" spaced &#10; "/>'
                   b'<setting valuestring="no name"/></s>'))
    write("settings", "malformed", settings(5, ("Port", "12000"), ("", ""), b"<settings><setting"))
    write("settings", "regression-duplicate-attribute",
          settings(1, ("", ""), ("", ""),
                   b'<settings><setting namestring="Port" valuestring="1" valuestring="2"/>'
                   b"</settings>"))
    write("settings", "latin1",
          settings(1, ("", ""), ("", ""),
                   b'<?xml version="1.0" encoding="ISO-8859-1"?><settings>'
                   b'<setting namestring="Caf\xe9" valuestring="cr\xe8me"/></settings>'))


# --- geo_reply: GeoReplyFuzzer.cpp -----------------------------------------------------------
GEO_KEYS = ["country", "regioncode", "city", "cityid", "timezone", "CITY"]


def geo(key, appended, first, second):
    return bytes([GEO_KEYS.index(key)]) + text(appended) + text(first) + second


def geo_seeds():
    reply = (b"<html><head>\r\n"
             b'<meta name="country" content="France">\r\n'
             b'<meta name="regioncode" content="IDF">\r\n'
             b'<META name="city" content="Paris">\r\n'
             b'<meta name="cityid" content="7500">\r\n'
             b'<meta name="timezone" content="+01:00">\r\n'
             b"</head></html>\r\n")
    write("geo_reply", "usual", geo("city", "Lyon", reply[:120], reply[120:]))
    write("geo_reply", "odd-lines",
          geo("cityid", "1234", b'\t<meta name="city" content="Tabbed">\n<meta name="x"',
              b'  <meta name="city" content="spaced">\r\n<meta "country" "Three quotes\r\n'
              b'<meta name="cityid" content="12345">\r\n<meta name=\"country\" content="">'))
    write("geo_reply", "empty", geo("timezone", "", b"", b""))


# --- gif_decode: GifDecodeFuzzer.cpp ---------------------------------------------------------
def lzw(indices, min_code_size):
    """Image data that never grows the code table: a clear code before every pixel."""
    clear, end, width = 1 << min_code_size, (1 << min_code_size) + 1, min_code_size + 1
    codes = []
    for index in indices:
        codes += [clear, index]
    codes.append(end)
    bits, count, packed = 0, 0, bytearray()
    for code in codes:
        bits |= code << count
        count += width
        while count >= 8:
            packed.append(bits & 255)
            bits >>= 8
            count -= 8
    if count:
        packed.append(bits)
    blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255]
                      for i in range(0, len(packed), 255))
    return bytes([min_code_size]) + blocks + b"\x00"


def gif(screen, palette, body, version=b"89a"):
    width, height = screen
    flags = 0
    if palette:
        flags = 0x80 | (max(len(palette).bit_length() - 2, 0))
    header = b"GIF" + version + struct.pack("<HHBBB", width, height, flags, 0, 0)
    return header + b"".join(palette) + body + b"\x3b"


def frame_block(left, top, width, height, indices, local=None, interlaced=False):
    flags = (0x40 if interlaced else 0)
    table = b""
    if local:
        flags |= 0x80 | (max(len(local).bit_length() - 2, 0))
        table = b"".join(local)
    return (b"\x2c" + struct.pack("<HHHHB", left, top, width, height, flags) + table +
            lzw(indices, 2))


def gif_seeds():
    four = [b"\xff\x00\x00", b"\x00\xff\x00", b"\x00\x00\xff", b"\xff\xff\xff"]
    transparent = b"\x21\xf9\x04\x01\x00\x00\x01\x00"  # colour 1 is clear
    comment = b"\x21\xfe\x05hello\x00"
    loop = b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    write("gif_decode", "one-red-pixel",
          gif((1, 1), [b"\xff\x00\x00", b"\x00\x00\x00"], frame_block(0, 0, 1, 1, [0])))
    write("gif_decode", "interlaced-transparent",
          gif((4, 5), four, transparent + frame_block(0, 0, 4, 5, [i % 4 for i in range(20)],
                                                      interlaced=True)))
    write("gif_decode", "local-table-offset-frame",
          gif((5, 4), four, comment + loop +
              frame_block(1, 1, 3, 2, [3, 2, 1, 0, 1, 2], local=four[::-1]) +
              frame_block(0, 0, 1, 1, [0])))
    write("gif_decode", "zero-screen",
          gif((0, 0), four, frame_block(0, 0, 2, 2, [0, 1, 2, 3]), version=b"87a"))
    write("gif_decode", "frame-cut-short",
          gif((2, 2), four, frame_block(0, 0, 2, 2, [0, 1, 2, 3]))[:-6])


if __name__ == "__main__":
    dispatcher_seeds()
    frame_cutter_seeds()
    network_file_seeds()
    settings_seeds()
    geo_seeds()
    gif_seeds()
