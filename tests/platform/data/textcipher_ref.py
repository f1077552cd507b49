#!/usr/bin/env python3
"""Independent reference of the version-3 text cipher, used by the cipher tests.

  textcipher_ref.py encrypt KEY RANDOMBYTE MODE TEXT   -> Base64 cipher text
  textcipher_ref.py decrypt KEY CIPHERTEXT             -> the text, or an empty line

KEY and RANDOMBYTE are decimal or 0x-hex; MODE is auto, always or never (compression).
TEXT and the printed text are UTF-8.
"""
import base64
import hashlib
import struct
import sys
import zlib


def crc16_iso3309(data: bytes) -> int:
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return (~crc) & 0xFFFF


def key_bytes(key: int) -> bytes:
    return bytes((key >> (8 * j)) & 0xFF for j in range(8))


def compress(data: bytes) -> bytes:
    if not data:
        return b"\0\0\0\0"
    return struct.pack(">I", len(data)) + zlib.compress(data, 9)


def encrypt(key: int, random_byte: int, mode: str, payload: bytes) -> bytes:
    flags = 0
    if mode == "always":
        payload, flags = compress(payload), flags | 0x01
    elif mode == "auto":
        packed = compress(payload)
        if len(packed) < len(payload):
            payload, flags = packed, flags | 0x01
    flags |= 0x02
    body = bytearray([random_byte]) + struct.pack(">H", crc16_iso3309(payload)) + payload
    kb, prev = key_bytes(key), 0
    for i in range(len(body)):
        body[i] ^= kb[i % 8] ^ prev
        prev = body[i]
    return bytes([0x03, flags]) + bytes(body)


def decrypt(key: int, cipher: bytes) -> bytes:
    if len(cipher) < 2 or cipher[0] != 0x03:
        return b""
    flags, body = cipher[1], bytearray(cipher[2:])
    kb, prev = key_bytes(key), 0
    for i in range(len(body)):
        enciphered = body[i]
        body[i] ^= kb[i % 8] ^ prev
        prev = enciphered
    rest = bytes(body[1:])
    if flags & 0x02:
        if len(rest) < 2 or struct.unpack(">H", rest[:2])[0] != crc16_iso3309(rest[2:]):
            return b""
        rest = rest[2:]
    elif flags & 0x04:
        if len(rest) < 20 or rest[:20] != hashlib.sha1(rest[20:]).digest():
            return b""
        rest = rest[20:]
    if flags & 0x01:
        try:
            rest = zlib.decompress(rest[4:])
        except zlib.error:
            return b""
    return rest


def main(argv):
    if argv[1] == "encrypt":
        key, random_byte, mode, text = int(argv[2], 0), int(argv[3], 0), argv[4], argv[5]
        cipher = encrypt(key, random_byte, mode, text.encode("utf-8"))
        print(base64.b64encode(cipher).decode("ascii"))
    else:
        key, text = int(argv[2], 0), argv[3]
        plain = decrypt(key, base64.b64decode(text + "=" * (-len(text) % 4)))
        sys.stdout.buffer.write(plain + b"\n")


if __name__ == "__main__":
    main(sys.argv)
