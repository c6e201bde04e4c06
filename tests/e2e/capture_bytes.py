"""A capture file's accuracy calls, read and altered in place with its check sums made right again
(format version 1: the whole file's; version 2: each block's), as a player's file altered by a
later plug-in would never be: the tests' way to make a captured accuracy differ from today's.

It also reads a version 2 file's blocks as the tests' own check of what the recorder wrote (each
block's length and check sum, each pass walked to its end), apart from the replay's reader.

usage: capture_bytes.py FILE PASS OUT   writes FILE with one accuracy of pass PASS altered to OUT
"""
import struct
import sys

MAGIC = b"QMFCAPT\x1a"
SET_ACCURACY = 0x7AEFB85C1D49DEB6
ANSWER_SIZES = {0: 0, 1: 4, 2: 8, 3: 12}
START, PASSES, END = 1, 2, 3


def fnv1a64(data):
    state = 0xCBF29CE484222325
    for byte in data:
        state = ((state ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return state


def _passes(data, at, count, found):
    """Reads `count` passes from `at`; each accuracy set is noted as (pass, ped, value, where the
    value's bytes are), each pass by where it starts. Gives where the passes end."""
    for _ in range(count):
        number = len(found["passes"]) + 1
        found["passes"].append(at)
        (calls,) = struct.unpack_from("<I", data, at)
        at += 4
        for _ in range(calls):
            hash_, slot_count, answer = struct.unpack_from("<QBB", data, at)
            at += 10
            values = []
            for _ in range(slot_count):
                kind = data[at]
                at += 1
                if kind == 0:
                    values.append(at)
                    at += 4
                elif kind in (1, 2):
                    (length,) = struct.unpack_from("<H", data, at)
                    at += 2 + length
                else:
                    at += 2
            at += ANSWER_SIZES[answer]
            if hash_ == SET_ACCURACY and len(values) == 2:
                ped, value = (struct.unpack_from("<i", data, where)[0] for where in values)
                found["sets"].append((number, ped, value, values[1]))
    return at


def read(data):
    """The accuracies set in a capture's passes, each as (pass, ped, value, offset), and the
    format version."""
    if data[:8] != MAGIC:
        raise ValueError("not a capture")
    (version,) = struct.unpack_from("<I", data, 8)
    found = {"passes": [], "sets": []}
    if version == 1:
        at = 28
        passes, _calls, _wanted, _flags, _angle = struct.unpack_from("<IIIBI", data, at)
        at += 17
        for _ in range(3):
            at += 1 + data[at]
        _passes(data, at, passes, found)
    elif version == 2:
        at = 12
        while at + 13 <= len(data):
            length, _sum, kind = struct.unpack_from("<IQB", data, at)
            if kind == 2:
                (count,) = struct.unpack_from("<I", data, at + 13)
                _passes(data, at + 17, count, found)
            at += 13 + length
    else:
        raise ValueError(f"format version {version}")
    return version, found["sets"]


def pass_calls(payload):
    """The call count of each pass of a passes block, its calls walked slot by slot; raises
    ValueError where the bytes do not make whole passes."""
    passes, at = struct.unpack_from("<I", payload)[0], 4
    counts = []
    for _ in range(passes):
        calls = struct.unpack_from("<I", payload, at)[0]
        at += 4
        for _ in range(calls):
            _, slots, answer = struct.unpack_from("<QBB", payload, at)
            at += 10
            for _ in range(slots):
                kind = payload[at]
                if kind == 0:
                    at += 5
                elif kind in (1, 2):
                    at += 3 + struct.unpack_from("<H", payload, at + 1)[0]
                elif kind == 3:
                    at += 3
                else:
                    raise ValueError(f"a slot of kind {kind}")
            at += ANSWER_SIZES[answer]
        counts.append(calls)
    if at != len(payload):
        raise ValueError(f"{len(payload) - at} bytes after the block's passes")
    return counts


def read_blocks(data):
    """(blocks, cut): each whole block as (kind, payload) with its check sum right, and the bytes
    after the last whole block (a block cut short by the game's end). Raises ValueError for a
    head or a check sum that is wrong."""
    if data[:8] != MAGIC or struct.unpack_from("<I", data, 8)[0] != 2:
        raise ValueError("not a capture of format version 2")
    blocks, at = [], 12
    while len(data) - at >= 13:
        length, check_sum, kind = struct.unpack_from("<IQB", data, at)
        if len(data) - at - 13 < length:
            break
        payload = data[at + 13:at + 13 + length]
        if fnv1a64(bytes([kind]) + payload) != check_sum:
            raise ValueError(f"the block at {at}: its check sum does not match")
        blocks.append((kind, payload))
        at += 13 + length
    return blocks, len(data) - at


def sealed(data, version):
    """The check sums made right again after an edit."""
    data = bytearray(data)
    if version == 1:
        struct.pack_into("<Q", data, 20, fnv1a64(data[28:]))
        return bytes(data)
    at = 12
    while at + 13 <= len(data):
        (length,) = struct.unpack_from("<I", data, at)
        if at + 13 + length > len(data):
            break
        struct.pack_into("<Q", data, at + 4, fnv1a64(data[at + 12:at + 13 + length]))
        at += 13 + length
    return bytes(data)


def alter_accuracy(data, pass_number):
    """The capture with the first accuracy set in that pass one point off (within 0 to 100): the
    new bytes, the ped's handle, the value captured and the value written."""
    version, sets = read(data)
    for number, ped, value, where in sets:
        if number == pass_number:
            altered = value - 1 if value > 0 else value + 1
            edited = bytearray(data)
            struct.pack_into("<i", edited, where, altered)
            return sealed(edited, version), ped, value, altered
    raise ValueError(f"no accuracy set in pass {pass_number}")


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as source:
        new, handle, was, now = alter_accuracy(source.read(), int(sys.argv[2]))
    with open(sys.argv[3], "wb") as target:
        target.write(new)
    print(f"pass {sys.argv[2]}, ped {handle}: captured {was} altered to {now}")
