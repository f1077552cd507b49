"""Reads a message from stdin as an independent mail reader would; prints what it found as JSON."""
import email
import email.policy
import json
import sys


def shape(part):
    inner = ','.join(map(shape, part.iter_parts())) if part.is_multipart() else None
    return part.get_content_type() + (f'[{inner}]' if inner is not None else '')


def content(part):
    value = part.get_content()
    return value.replace('\r\n', '\n') if isinstance(value, str) else value.hex()


message = email.message_from_binary_file(sys.stdin.buffer, policy=email.policy.default)
parts = list(message.walk())
leaves = [p for p in parts if not p.is_multipart()]
encoded = [p for p in leaves if p['Content-Transfer-Encoding'] in ('base64', 'quoted-printable')]
boundaries = [p.get_boundary() for p in parts if p.is_multipart()]
print(json.dumps({
    # Raw values: the reader's own rendering would hide how the date was written.
    'headers': [f'{name}: ' + value.encode('ascii', 'surrogateescape').decode()
                for name, value in message.raw_items()],
    'shape': shape(message),
    'parts': [f'{p.get_content_type()} {p["Content-Transfer-Encoding"]} {p.get_content_charset()} '
              f'{p.get_filename()}: {content(p)}' for p in leaves],
    # Defects the reader noted, encoded lines over 76 characters or ending in white space that
    # transports may strip, and boundaries whose delimiter line also starts another's.
    'faults': [type(d).__name__ for p in parts for d in p.defects]
    + [line for p in encoded for line in p.get_payload().splitlines()
       if len(line) > 76 or line != line.rstrip(' \t')]
    + [f'{b} starts with {a}' for a in boundaries for b in boundaries if a != b and b.startswith(a)],
}))
