"""Reads a format-2 capture's blocks as the test's own check of what the recorder wrote: each
block's length and check sum, and each passes block's calls walked to its end, so that a block
whose passes are not whole shows. Not the replay's reader (sim/capture), which reads far more.
"""
import struct

MAGIC = b"QMFCAPT\x1a"
START, PASSES, END = 1, 2, 3
ANSWER_BYTES = {0: 0, 1: 4, 2: 8, 3: 12}


def fnv1a64(data):
    state = 0xCBF29CE484222325
    for byte in data:
        state = ((state ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return state


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
            at += ANSWER_BYTES[answer]
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
