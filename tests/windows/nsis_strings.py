"""The texts an NSIS installer holds in its script header, one a line.

    python3 tests/windows/nsis_strings.py SETUP.exe

The header (the compiled script: its registry keys and values, file and
folder names, shortcut names) sits LZMA-compressed at the start of the
installer's data, ahead of the files. Read without running the installer:
for the installers this project makes (solid LZMA), ANSI or Unicode.
"""
import lzma
import re
import struct
import sys


def header(data: bytes) -> bytes:
    at = data.find(b"\xef\xbe\xad\xdeNullsoftInst")
    if at < 4:
        raise ValueError("not an NSIS installer")
    first = at - 4
    header_length = struct.unpack_from("<I", data, first + 20)[0]
    body = data[first + 28:]
    props = body[0]
    dict_size = struct.unpack_from("<I", body, 1)[0]
    pb, props = divmod(props, 45)
    lp, lc = divmod(props, 9)
    lzma1 = {"id": lzma.FILTER_LZMA1, "dict_size": dict_size, "lc": lc, "lp": lp, "pb": pb}
    out = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(body[5:], max_length=4 + header_length)
    length = struct.unpack_from("<I", out, 0)[0]
    if length != header_length or len(out) < 4 + length:
        raise ValueError("the header is cut short")
    return out[4:4 + length]


def main() -> int:
    try:
        text = header(open(sys.argv[1], "rb").read())
    except (OSError, ValueError, lzma.LZMAError) as error:
        print(f"nsis_strings.py: {sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    for run in re.findall(rb"(?:[\x20-\x7e]\x00){3,}", text):
        print(run.decode("utf-16le"))
    for run in re.findall(rb"[\x20-\x7e]{3,}", text):
        print(run.decode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
