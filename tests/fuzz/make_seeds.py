#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: valid packets of every framing and valid answers for the
parsers. Run from the repository root; the output is committed under tests/fuzz/corpus/."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def sum8(data):
    return sum(data) & 0xFF


def crc16(data):
    reg = 0
    for byte in data:
        for bit in range(8):
            top = reg >> 15
            reg = (reg << 1) & 0xFFFF
            if ((byte >> bit) & 1) != top:
                reg ^= 0x8005
    return reg


def ccpu(delimiter, command, payload=b"", sequence=1):
    header = bytes([delimiter]) + struct.pack("<HH", command, len(payload)) + bytes([sequence])
    packet = header + bytes([sum8(header[1:])]) + payload
    return packet + bytes([sum8(payload)]) if payload else packet


def mcpu(delimiter, command, payload=b""):
    header = bytes([delimiter, command, len(payload), (command + len(payload)) & 0xFF])
    if delimiter == 0x3E:
        return header + payload + bytes([sum8(payload)])
    return header + payload + struct.pack("<H", crc16(header[1:] + payload))


def text(s):
    return s.encode() + b"\0"


def write(folder, name, data):
    os.makedirs(os.path.join(ROOT, folder), exist_ok=True)
    with open(os.path.join(ROOT, folder, name), "wb") as f:
        f.write(data)


# Framer: protocol index (order of the fuzzer's table), read size, then the stream.
PROTOCOLS = [(0, 0x42), (1, 0x19), (2, 0x05), (3, 0x85)]
info = bytes([2, 3, 0]) + b"".join(text(s) for s in ["HW", "SN", "M", "E", "C", "K", "L", "R", "W"])
for index, delimiter in PROTOCOLS:
    stream = b"\x00\x13" + ccpu(delimiter, 0x4001, info) + ccpu(delimiter, 0x4002, b"\x00") + ccpu(delimiter, 0x4015)
    write("framer", f"ccpu_{index}", bytes([index, 31]) + stream)
write("framer", "ccpu_broken_header", bytes([0, 7]) + b"\x42" + ccpu(0x42, 0x4004, b"\0\0\0\1"))
write("framer", "mcpu_sum", bytes([4, 32]) + b"\xff" + mcpu(0x3E, 0x43, b"\x51") + mcpu(0x3E, 0x56, bytes(18)))
write("framer", "mcpu_crc", bytes([5, 32]) + mcpu(0x24, 0x4C, bytes([1]) + bytes(13)) + mcpu(0x24, 0x72))
write("framer", "word_count", bytes([6, 1]) + b"\x43\x03" + bytes(range(12)) + b"\x43\x00")
write("framer", "radio_statistics", bytes([7, 40]) + bytes(range(40)))
write("framer", "none", bytes([8, 5]) + ccpu(0x42, 0x4001))

# Parsers: index in the fuzzer's table, string buffer size, payload.
PARSERS = {
    "device_info": (0, 32, info),
    "prepare_update": (1, 8, bytes([0, 1, 0, 1])),
    "rcpu_info": (3, 16, bytes([1, 1, 0x30]) + text("R") + text("M") + bytes([1, 2, 3])),
    "veltrix_info": (4, 16, bytes([1, 0x10, 0]) + text("V 01.00.00")),
    "expander": (12, 0, bytes([1, 0x21, 0]) + text("V 02.00.00")),
    "zero_offset": (17, 8, bytes(9)),
    "pwm_calibration": (19, 8, bytes(29)),
    "read_memory": (24, 32, bytes([0, 1, 2, 0, 0x10, 0, 8, 0xAA, 0xBB])),
    "read_profile": (26, 8, bytes([0, 1, 2]) + bytes(122)),
    "read_assignments": (27, 8, bytes([0, 1, 5, 0, 6, 0])),
    "hardware_info": (29, 16, bytes([1, 0]) + text("HV") + text("SN")),
    "production_info": (33, 16, text("2024") + text("QA")),
    "rcpu_status": (44, 8, bytes([2, 0x30, 1, 2, 3, 4, 5, 6, 0xF6])),
    "status": (49, 8, bytes([2, 10, 0, 26, 1, 0, 0, 0, 125, 1])),
    "debug": (51, 16, bytes([1, 0, 3]) + text("trace text")),
    "board_info": (53, 16, bytes(7) + struct.pack("<I", 20101 + 20304) + bytes(7)),
    "module_list": (54, 3, bytes([2]) + bytes(26)),
    "read_params": (55, 8, bytes(40)),
    "realtime3": (56, 8, bytes(63)),
    "confirm": (59, 8, bytes([0x51, 3])),
    "error": (61, 8, bytes([2, 0x53, 0, 0, 0])),
}
for name, (index, size, payload) in PARSERS.items():
    write("parser", name, bytes([index, size]) + payload)

# Traffic dump: whole packets as the serial link delivers them.
SCRIVA = {
    "device_info": ccpu(0x42, 0x4001, info),
    "status_list": ccpu(0x42, 0x4002, bytes([0, 2, 0x81])),
    "send_firmware": ccpu(0x42, 0x4015, b"\x03"),
    "assignments": ccpu(0x42, 0x402E, bytes([0, 2]) + bytes(508)),
    "status_notification": ccpu(0x42, 0x8002, bytes([2, 10, 0, 26, 1, 0, 0, 0, 99, 125, 5])),
    "pwm_calibration": ccpu(0x42, 0x4B23, bytes(29)),
    "carried_mcpu": ccpu(0x42, 0x801F, mcpu(0x3E, 0x4C, bytes([1]) + bytes(13))),
    "rcpu_status": ccpu(0x42, 0x8C02, bytes([2, 0x30, 1, 2, 3, 4, 5, 6, 0xF6])),
    "debug": ccpu(0x42, 0xBFFF, bytes([1, 0, 3]) + b"trace text"),
    "ccpu2_info": ccpu(0x19, 0x4D01, bytes([1, 0x80, 0x10]) + text("HV") + text("SN") + text("C")),
    "veltrix_values": ccpu(0x05, 0x80FF, bytes(range(20))),
    "ombra_values": ccpu(0x85, 0x80FF, bytes(5)),
    "module_list": mcpu(0x3E, 0x4C, bytes([2]) + bytes(26)),
    "confirm": mcpu(0x24, 0x43, bytes([0x55, 0x10, 0x27])),
    "read_params": mcpu(0x3E, 0x21, bytes(40)),
    "error": mcpu(0x3E, 0xFF, bytes([2, 0x53, 0, 0, 0])),
}
for name, packet in SCRIVA.items():
    write("scriva", name, packet)
