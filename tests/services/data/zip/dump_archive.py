#!/usr/bin/env python3
"""Prints what Python's zipfile sees in an archive, as JSON, for comparison in the zip tests.

Usage: dump_archive.py ARCHIVE
Output: [{"name", "data" (base64), "mode", "time": [y, m, d, H, M, S], "compress": method,
          "compressed": stored size, "flags": general purpose flags}] in archive order
"""
import base64
import json
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as zf:
    print(json.dumps([
        {
            "name": zi.filename,
            "data": base64.b64encode(zf.read(zi)).decode(),
            "mode": zi.external_attr >> 16,
            "time": list(zi.date_time),
            "compress": zi.compress_type,
            "compressed": zi.compress_size,
            "flags": zi.flag_bits,
        }
        for zi in zf.infolist()
    ]))
