#!/usr/bin/env python3
"""Draws the plug-in's icon, a lit sphere on a dark halo, into a Windows .ico file, or with
--hicolor DIR as the Linux desktop's PNGs, DIR/NxN/apps/halcyonsphere.png.

Every size is rendered from the same analytic sphere (no scaling artefacts): in the .ico 16, 24,
32 and 48 pixels as 32-bit bitmaps for old shells, 256 pixels as PNG.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
HICOLOR_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)  # the sizes desktops look for
LIGHT = (-0.45, -0.55, 0.70)  # towards the upper left, out of the screen


def normalise(v):
    length = math.sqrt(sum(c * c for c in v))
    return tuple(c / length for c in v)


def pixel(size, x, y):
    """RGBA of pixel (x, y), top row first, with 4x4 supersampling for smooth edges."""
    light = normalise(LIGHT)
    eye_half = normalise((light[0], light[1], light[2] + 1.0))
    total = [0.0, 0.0, 0.0, 0.0]
    samples = 4
    for sy in range(samples):
        for sx in range(samples):
            u = ((x + (sx + 0.5) / samples) / size) * 2.0 - 1.0
            v = ((y + (sy + 0.5) / samples) / size) * 2.0 - 1.0
            r = math.hypot(u, v)
            sphere_radius = 0.78
            if r <= sphere_radius:
                nx, ny = u / sphere_radius, v / sphere_radius
                nz = math.sqrt(max(0.0, 1.0 - nx * nx - ny * ny))
                diffuse = max(0.0, nx * light[0] + ny * light[1] + nz * light[2])
                specular = max(0.0, nx * eye_half[0] + ny * eye_half[1] + nz * eye_half[2]) ** 40
                rim = (1.0 - nz) ** 3
                colour = (
                    0.10 + 0.55 * diffuse + 0.9 * specular + 0.55 * rim,
                    0.18 + 0.45 * diffuse + 0.9 * specular + 0.25 * rim,
                    0.35 + 0.65 * diffuse + 0.9 * specular + 0.10 * rim,
                )
                alpha = 1.0
            else:
                # A soft violet glow around the sphere, like the blur rays.
                glow = max(0.0, 1.0 - (r - sphere_radius) / (1.0 - sphere_radius))
                colour = (0.55, 0.35, 0.95)
                alpha = glow ** 2 * 0.85
            for i in range(3):
                total[i] += min(1.0, colour[i]) * alpha
            total[3] += alpha
    count = samples * samples
    a = total[3] / count
    if a <= 0:
        return (0, 0, 0, 0)
    # Colour is stored unpremultiplied.
    return tuple(int(round(min(1.0, total[i] / total[3]) * 255)) for i in range(3)) + (int(round(a * 255)),)


def render(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def bitmap_entry(size, rows):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom row first
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha carries the shape; the AND mask stays clear
    return header + bytes(pixels) + mask


def png_entry(size, rows):
    raw = b''.join(b'\x00' + b''.join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main(path):
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_entry(size, rows) if size >= 256 else bitmap_entry(size, rows)))
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b''
    for size, data in images:
        directory += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    with open(path, 'wb') as out:
        out.write(directory + body)


def write_hicolor(folder):
    for size in HICOLOR_SIZES:
        apps = os.path.join(folder, f'{size}x{size}', 'apps')
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, 'halcyonsphere.png'), 'wb') as out:
            out.write(png_entry(size, render(size)))


if __name__ == '__main__':
    if sys.argv[1] == '--hicolor':
        write_hicolor(sys.argv[2])
    else:
        main(sys.argv[1])
