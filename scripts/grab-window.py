#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes what an X window shows to a PNG file, as the X server has it (no
# window manager's frame): the pictures in docs/ are taken this way from the
# real program under Xvfb, not drawn by it for itself.
# Usage: grab-window.py WINDOW-ID FILE.png   (DISPLAY set)
import ctypes
import struct
import sys
import zlib

window, path = int(sys.argv[1], 0), sys.argv[2]
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 7


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


display = x11.XOpenDisplay(None)
if not display:
    sys.exit("grab-window: no X display")
root = ctypes.c_ulong()
x, y = ctypes.c_int(), ctypes.c_int()
width, height, border, depth = ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint()
x11.XGetGeometry(display, window, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y), ctypes.byref(width),
                 ctypes.byref(height), ctypes.byref(border), ctypes.byref(depth))
ZPIXMAP, ALL_PLANES = 2, 0xFFFFFFFF
image = ctypes.cast(x11.XGetImage(display, window, 0, 0, width, height, ALL_PLANES, ZPIXMAP),
                    ctypes.POINTER(XImage)).contents
if image.bits_per_pixel != 32 or image.byte_order != 0:
    sys.exit("grab-window: only 32-bit little-endian pixels are read (a 24-bit Xvfb screen)")
data = ctypes.string_at(image.data, image.bytes_per_line * image.height)
rows = []
for row in range(image.height):
    line = data[row * image.bytes_per_line:row * image.bytes_per_line + 4 * image.width]
    rgb = bytearray(3 * image.width)
    rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]  # BGRX to RGB
    rows.append(b"\x00" + bytes(rgb))


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


with open(path, "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0))
              + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
