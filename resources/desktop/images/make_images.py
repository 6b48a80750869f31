#!/usr/bin/env python3
"""Draws the desktop program's pictures with ImageMagick: the banner (640x50)
and splash (400x247) as 24-bit BMP, and the icons as 32x32 + 16x16 ICO files.
Run from anywhere; the results are written beside this script and committed."""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "DejaVu-Sans"
FONT_BOLD = "DejaVu-Sans-Bold"
KOREAN_FONT = "/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf"

NAVY, BLUE, SKY = "#1b3f73", "#2f6db5", "#d9e8f7"


def convert(*args):
    subprocess.run(["convert", *args], check=True)


# Icon pictures, drawn on a 128x128 canvas (MVG primitives).
ENVELOPE = ("fill white stroke '#3a5f8f' stroke-width 5 roundrectangle 14,34 114,98 8,8 "
            "fill none stroke '#3a5f8f' stroke-width 5 polyline 16,38 64,74 112,38")
ICONS = {
    "messages": ENVELOPE,
    "outlook_express": (
        "fill none stroke '#2e9b45' stroke-width 9 arc 6,6 122,122 200,330 "
        "fill '#2e9b45' stroke none polygon 104,20 124,50 92,50 "
        "fill none stroke '#2e9b45' stroke-width 9 arc 6,6 122,122 20,150 "
        "fill '#2e9b45' stroke none polygon 24,108 4,78 36,78 "
        "fill white stroke '#1f5fa8' stroke-width 5 roundrectangle 30,44 98,88 6,6 "
        "fill none stroke '#1f5fa8' stroke-width 5 polyline 32,47 64,70 96,47"),
    "outlook": (
        "fill white stroke '#1f5fa8' stroke-width 5 roundrectangle 6,30 96,92 8,8 "
        "fill none stroke '#1f5fa8' stroke-width 5 polyline 8,34 51,64 94,34 "
        "fill '#f4f4f4' stroke '#b0741c' stroke-width 6 circle 90,88 90,122 "
        "stroke '#333333' stroke-width 6 line 90,88 90,66 line 90,88 106,96"),
    "profile": (
        "fill '#6f95c9' stroke '#2c4f80' stroke-width 4 circle 44,40 44,18 "
        "roundrectangle 10,66 78,116 24,24 "
        "fill '#9cc1e8' stroke '#2c4f80' stroke-width 4 circle 86,50 86,28 "
        "roundrectangle 52,76 120,122 24,24"),
    "account": (
        "fill '#e8c27a' stroke '#8a6420' stroke-width 5 rectangle 10,58 118,118 "
        "fill '#f3d69c' polygon 10,58 28,40 100,40 118,58 "
        "fill white stroke '#55616f' stroke-width 4 rectangle 40,12 88,78 "
        "stroke '#9aa6b3' stroke-width 4 line 48,28 80,28 line 48,40 80,40 line 48,52 72,52 "
        "fill '#d03434' stroke '#7a1010' stroke-width 3 circle 96,22 96,10 "
        "stroke '#555555' stroke-width 5 line 96,32 96,52"),
    "address_book": (
        "fill '#f7f7f2' stroke '#6d4c2a' stroke-width 5 polygon 64,34 10,22 10,104 64,116 "
        "polygon 64,34 118,22 118,104 64,116 "
        "stroke '#9aa6b3' stroke-width 4 line 20,44 54,52 line 20,60 54,68 line 20,76 54,84 "
        "line 74,52 108,44 line 74,68 108,60 line 74,84 108,76 "
        "stroke '#6d4c2a' stroke-width 6 line 64,34 64,116"),
    "velmora": (
        "fill '#2f6db5' stroke '#1b3f73' stroke-width 4 roundrectangle 4,4 124,124 22,22 "
        "fill white stroke none roundrectangle 22,38 106,92 6,6 "
        "fill none stroke '#2f6db5' stroke-width 5 polyline 24,41 64,70 104,41 "
        "fill '#49c060' stroke white stroke-width 3 circle 98,96 98,120 "
        "fill white stroke none polygon 98,82 112,98 104,98 104,110 92,110 92,98 84,98"),
}


def make_icon(name, mvg):
    with tempfile.TemporaryDirectory() as tmp:
        big = os.path.join(tmp, "big.png")
        convert("-size", "128x128", "xc:none", "-draw", mvg, big)
        sizes = []
        for size in (32, 16):
            out = os.path.join(tmp, f"{size}.png")
            convert(big, "-filter", "Lanczos", "-resize", f"{size}x{size}", out)
            sizes.append(out)
        convert(*sizes, os.path.join(HERE, f"{name}.ico"))


def make_banner(path, tagline, tagline_font):
    convert("-size", "50x640", f"gradient:{BLUE}-{NAVY}", "-rotate", "90",
            "-fill", "white", "-draw", "roundrectangle 14,11 50,39 4,4",
            "-fill", "none", "-stroke", BLUE, "-strokewidth", "3",
            "-draw", "polyline 15,13 32,27 49,13",
            "-stroke", "none", "-fill", "white", "-font", FONT_BOLD, "-pointsize", "26",
            "-annotate", "+62+35", "Velmora",
            "-fill", SKY, "-font", tagline_font, "-pointsize", "14",
            "-gravity", "East", "-annotate", "+18+2", tagline,
            "-alpha", "off", "-type", "TrueColor", f"BMP3:{path}")


def make_splash(path, lines, line_font):
    args = ["-size", "247x400", f"gradient:{BLUE}-{NAVY}", "-rotate", "90",
            "-fill", "#ffffff22", "-draw", "circle 330,40 330,170",
            "-fill", "white", "-draw", "roundrectangle 40,60 130,120 8,8",
            "-fill", "none", "-stroke", BLUE, "-strokewidth", "5",
            "-draw", "polyline 42,64 85,96 128,64",
            "-stroke", "none", "-fill", "#49c060", "-draw", "circle 124,118 124,140",
            "-fill", "white", "-draw", "polygon 124,104 137,119 129,119 129,130 119,130 119,119 111,119",
            "-fill", "white", "-font", FONT_BOLD, "-pointsize", "40", "-annotate", "+150+108", "Velmora",
            "-fill", SKY, "-font", FONT, "-pointsize", "13", "-annotate", "+153+130", "Version 1.5",
            "-fill", "#ffffff", "-draw", "rectangle 40,150 360,151"]
    y = 178
    for text in lines:
        args += ["-fill", SKY, "-font", line_font, "-pointsize", "13", "-annotate", f"+40+{y}", text]
        y += 20
    args += ["-fill", "#9fb8d8", "-font", FONT, "-pointsize", "10", "-annotate", "+40+232",
             "Orridge Software"]
    convert(*args, "-alpha", "off", "-type", "TrueColor", f"BMP3:{path}")


def main():
    for name, mvg in ICONS.items():
        make_icon(name, mvg)
    make_banner(os.path.join(HERE, "banner.bmp"), "Mail backup and restore", FONT)
    make_splash(os.path.join(HERE, "splash.bmp"),
                ["Backup and restore for", "Outlook Express and Outlook"], FONT)
    make_banner(os.path.join(HERE, "banner_kor.bmp"), "메일 백업 및 복원", KOREAN_FONT)
    make_splash(os.path.join(HERE, "splash_kor.bmp"),
                ["Outlook Express 및 Outlook의", "메일을 백업하고 복원합니다"], KOREAN_FONT)


if __name__ == "__main__":
    main()
