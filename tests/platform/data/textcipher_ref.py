#!/usr/bin/env python3
"""Independent reference of the version-3 text cipher for its tests:
encrypt KEY RANDOMBYTE auto|always|never TEXT prints the Base64 cipher text; decrypt KEY CIPHERTEXT
prints the text, or an empty line."""
import base64
import hashlib
import struct
import sys
import zlib


def crc16_iso3309(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return (~crc) & 0xFFFF


def xor_chain(key, body, deciphering):
    key_bytes, prev = [(key >> (8 * j)) & 0xFF for j in range(8)], 0
    for i, byte in enumerate(body):
        body[i] = byte ^ key_bytes[i % 8] ^ prev
        prev = byte if deciphering else body[i]
    return body


def compress(data):
    return struct.pack(">I", len(data)) + zlib.compress(data, 9) if data else b"\0\0\0\0"


def encrypt(key, random_byte, mode, payload):
    packed = compress(payload)
    flags = 0x02
    if mode == "always" or (mode == "auto" and len(packed) < len(payload)):
        payload, flags = packed, flags | 0x01
    body = bytearray([random_byte]) + struct.pack(">H", crc16_iso3309(payload)) + payload
    return bytes([0x03, flags]) + bytes(xor_chain(key, body, False))


def decrypt(key, cipher):
    if len(cipher) < 2 or cipher[0] != 0x03:
        return b""
    flags, rest = cipher[1], bytes(xor_chain(key, bytearray(cipher[2:]), True)[1:])
    if flags & 0x02:
        if len(rest) < 2 or struct.unpack(">H", rest[:2])[0] != crc16_iso3309(rest[2:]):
            return b""
        rest = rest[2:]
    elif flags & 0x04:
        if len(rest) < 20 or rest[:20] != hashlib.sha1(rest[20:]).digest():
            return b""
        rest = rest[20:]
    try:
        return zlib.decompress(rest[4:]) if flags & 0x01 else rest
    except zlib.error:
        return b""


if sys.argv[1] == "encrypt":
    key, random_byte, mode, text = int(sys.argv[2], 0), int(sys.argv[3], 0), sys.argv[4], sys.argv[5]
    print(base64.b64encode(encrypt(key, random_byte, mode, text.encode("utf-8"))).decode("ascii"))
else:
    text = sys.argv[3]
    plain = decrypt(int(sys.argv[2], 0), base64.b64decode(text + "=" * (-len(text) % 4)))
    sys.stdout.buffer.write(plain + b"\n")
