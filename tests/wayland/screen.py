#!/usr/bin/env python3
"""Screenshot arithmetic for the Wayland end-to-end test (binary PPM files, as grim writes them).

  screen.py size A.ppm              -> "W H"
  screen.py diff A.ppm B.ppm [X Y W H [IX IY IW IH]...]
      -> "x y w h count": the bounding box of the pixels that differ between A and B (inside the
         given rectangle, if any, leaving out the IX.. rectangles: the cursor) and how many
         differ; nothing when none do.
  screen.py pixel A.ppm X Y         -> "r g b"
  screen.py png A.ppm OUT.png       -> writes the picture as PNG (for looking at it)
"""
import struct
import sys
import zlib


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise SystemExit(f"{path}: not an 8-bit binary PPM")
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


def diff(a, b, rect, ignored=()):
    wa, ha, pa = read_ppm(a)
    wb, hb, pb = read_ppm(b)
    if (wa, ha) != (wb, hb):
        raise SystemExit("pictures of different sizes")
    x0, y0, rw, rh = rect if rect else (0, 0, wa, ha)
    x1, y1 = min(wa, x0 + rw), min(ha, y0 + rh)
    box, count = None, 0
    for y in range(max(0, y0), y1):
        row = y * wa * 3
        ra, rb = pa[row + x0 * 3:row + x1 * 3], pb[row + x0 * 3:row + x1 * 3]
        if ra == rb:
            continue
        for i in range(0, len(ra), 3):
            # Small differences (anti-aliasing, a changing figure's edge) do not count.
            if max(abs(ra[i + k] - rb[i + k]) for k in range(3)) > 24:
                x = x0 + i // 3
                if any(ix <= x < ix + iw and iy <= y < iy + ih for ix, iy, iw, ih in ignored):
                    continue
                count += 1
                box = [x, y, x, y] if box is None else [min(box[0], x), box[1], max(box[2], x), y]
    if box:
        print(box[0], box[1], box[2] - box[0] + 1, box[3] - box[1] + 1, count)


def png(a, out):
    w, h, p = read_ppm(a)
    raw = b"".join(b"\0" + p[y * w * 3:(y + 1) * w * 3] for y in range(h))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "size":
        w, h, _ = read_ppm(args[0])
        print(w, h)
    elif cmd == "diff":
        numbers = [int(v) for v in args[2:]]
        ignored = [numbers[i:i + 4] for i in range(4, len(numbers) - 3, 4)]
        diff(args[0], args[1], numbers[:4] if len(numbers) >= 4 else None, ignored)
    elif cmd == "pixel":
        w, _, p = read_ppm(args[0])
        i = (int(args[2]) * w + int(args[1])) * 3
        print(p[i], p[i + 1], p[i + 2])
    elif cmd == "png":
        png(args[0], args[1])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
