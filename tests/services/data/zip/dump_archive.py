#!/usr/bin/env python3
"""Prints what Python's zipfile sees in an archive, as JSON, for comparison in the zip tests.

Usage: dump_archive.py ARCHIVE
Output: {"bad": first entry failing testzip() or null, "comment": base64,
         "entries": [{"name", "data" (base64), "mode", "time": [y, m, d, H, M, S],
                      "compress": method, "flags": general purpose flags}]}
"""
import base64
import json
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as zf:
    result = {
        "bad": zf.testzip(),
        "comment": base64.b64encode(zf.comment).decode(),
        "entries": [
            {
                "name": zi.filename,
                "data": base64.b64encode(zf.read(zi)).decode(),
                "mode": zi.external_attr >> 16,
                "time": list(zi.date_time),
                "compress": zi.compress_type,
                "flags": zi.flag_bits,
            }
            for zi in zf.infolist()
        ],
    }
print(json.dumps(result))
