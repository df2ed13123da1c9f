#!/usr/bin/python3
"""Writes the pictures the PNG benchmarks measure on as plain bitmap files
into FOLDER: photographs and screen content from Debian packages
(lomiri-wallpapers-20.04, sway-backgrounds; tools/install-deps.sh installs
them), scaled to a typical size and saved at 8 bits (256 colours), 24 bits
and 32 bits. Prints the names written; pictures whose package is missing
are left out with a note on stderr.

  bench/png_corpus.py FOLDER
"""

import os
import sys

from PIL import Image

BACKGROUNDS = "/usr/share/backgrounds"

# name, source, largest side, bit depths
PICTURES = [
    ("photo-mountains", "Kleiber_by_Lukas_Baubkus.jpg", 2048, (24, 8)),
    ("photo-sea", "Infinite-Sea_by_Aury88.jpg", 1536, (24,)),
    ("photo-paint", "Painting-Colors_by__herobrine7gamer.jpg", 2048, (32,)),
    ("artwork-sway", "sway/Sway_Wallpaper_Blue_1920x1080.png", 1920, (24,)),
    ("artwork-lines", "xfce/xfce-verticals.png", 1920, (24,)),
]


def save(image, depth, path):
    if depth == 8:
        image = image.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.FLOYDSTEINBERG)
    elif depth == 32:
        image = image.convert("RGBA")  # the fourth byte is never drawn as alpha
    image.save(path, "BMP")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, source, side, depths in PICTURES:
        path = os.path.join(BACKGROUNDS, source)
        if not os.path.exists(path):
            print("png_corpus: %s is not installed; %s left out" % (path, name), file=sys.stderr)
            continue
        image = Image.open(path).convert("RGB")
        scale = side / max(image.size)
        if scale < 1:
            image = image.resize((round(image.width * scale), round(image.height * scale)), Image.LANCZOS)
        for depth in depths:
            out = os.path.join(folder, "%s-%d.bmp" % (name, depth))
            if not os.path.exists(out):
                save(image, depth, out)
            print(out)


if __name__ == "__main__":
    main()
