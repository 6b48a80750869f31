#!/usr/bin/env python3
"""Deterministic benchmark data: the same arguments give the same bytes.

  gen_data.py oe <folder> [MB]   an Outlook Express message store: many
                                 .dbx-like files of mail text with base64
                                 attachments, a few with binary (incompressible)
                                 pages, in the store folder and sub-folders
  gen_data.py pst <file> [MB]    one large .pst-like file of mixed
                                 compressibility (mail text, base64, binary
                                 pages, zero-filled free space)
  gen_data.py many <folder> [MB] a store of about 1,500 files: one data file
                                 of two thirds of the size, the rest from
                                 1 KB to a few MB in nested sub-folders
  gen_data.py small <folder> N   N message files of 1 to 4 KB, 100 a folder

Files are written under a temporary name and renamed when complete, so an
interrupted run never leaves a short file that a later run would take as done.
"""
import base64
import os
import random
import sys

WORDS = ("meeting invoice quarter schedule report draft budget review thanks please attached "
         "tomorrow office customer order shipment project notes agenda friday call update contract "
         "regards question photos weekend the and for with about from your will this that have "
         "been would could should delivery payment account team client morning afternoon").split()
PEOPLE = ["alice@example.org", "bob@example.net", "carol@mail.example.com", "dmitri@example.org",
          "eun-ji@example.co.kr", "frank@example.com", "grace@example.org", "hiro@example.jp"]
DBX_SIGNATURE = bytes([0xcf, 0xad, 0x12, 0xfe, 0xc5, 0xfd, 0x74, 0x6f,
                       0x66, 0xe3, 0xd1, 0x11, 0x9a, 0x4e, 0x00, 0xc0])
PST_SIGNATURE = b"!BDN" + bytes([0x0e, 0x00, 0x00, 0x00, 0x53, 0x4d, 0x17, 0x00, 0x13, 0x00, 0x01, 0x01])


def base64_text(rng, size):
    return base64.encodebytes(rng.randbytes(size)).replace(b"\n", b"\r\n")


def message(rng, number, attachment_share):
    sender, to = rng.choice(PEOPLE), rng.choice(PEOPLE)
    head = ("Return-Path: <%s>\r\nFrom: <%s>\r\nTo: <%s>\r\nSubject: %s %s #%d\r\n"
            "Date: Mon, %d Mar 2004 %02d:%02d:00 +0900\r\nMessage-ID: <%08x.%d@example.org>\r\n"
            "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b%d\"\r\n"
            "X-Mailer: Microsoft Outlook Express 6.00.2900.2180\r\n\r\n--b%d\r\n"
            "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n\r\n" %
            (sender, sender, to, rng.choice(WORDS), rng.choice(WORDS), number,
             rng.randint(1, 28), rng.randrange(24), rng.randrange(60), rng.getrandbits(32), number,
             number, number))
    words = rng.choices(WORDS, k=rng.randint(60, 600))
    lines = [" ".join(words[i:i + 12]) for i in range(0, len(words), 12)]
    parts = [head.encode(), "\r\n".join(lines).encode(), b"\r\n"]
    if rng.random() < attachment_share:
        parts.append(("--b%d\r\nContent-Type: application/octet-stream; name=\"scan%d.jpg\"\r\n"
                      "Content-Transfer-Encoding: base64\r\n\r\n" % (number, number)).encode())
        parts.append(base64_text(rng, rng.randint(2000, 40000)))
    parts.append(("--b%d--\r\n" % number).encode())
    return b"".join(parts)


def write_mail_file(path, seed, size, signature, binary_share=0.0, attachment_share=0.3, zero_share=0.0):
    """Mail text pages, with binary pages (random) and zero pages mixed in at
    the given shares of the file's size."""
    rng = random.Random(seed)
    temporary = path + ".part"
    with open(temporary, "wb") as out:
        header = (signature + rng.randbytes(48) + bytes(0x24bc - 64))[:size]
        out.write(header)
        written = len(header)
        number = 0
        while written < size:
            roll = rng.random()
            if roll < binary_share:
                block = rng.randbytes(256 * 1024)
            elif roll < binary_share + zero_share:
                block = bytes(256 * 1024)
            else:
                chunk = []
                length = 0
                while length < 256 * 1024:
                    number += 1
                    text = message(rng, number, attachment_share)
                    chunk.append(text)
                    length += len(text)
                block = b"".join(chunk)
            block = block[:size - written]
            out.write(block)
            written += len(block)
    os.replace(temporary, path)


# (relative path, share of the total size, share of binary pages, share of messages with attachments)
OE_FILES = [
    ("Folders.dbx", 0.0008, 0.0, 0.0), ("Offline.dbx", 0.0001, 0.0, 0.0),
    ("Pop3uidl.dbx", 0.0005, 0.0, 0.0), ("Outbox.dbx", 0.0003, 0.0, 0.2),
    ("Drafts.dbx", 0.004, 0.0, 0.4), ("Inbox.dbx", 0.22, 0.08, 0.35),
    ("Sent Items.dbx", 0.12, 0.0, 0.45), ("Deleted Items.dbx", 0.08, 0.1, 0.3),
    ("Customers.dbx", 0.06, 0.0, 0.3), ("Suppliers.dbx", 0.035, 0.0, 0.3),
    ("Newsletters.dbx", 0.03, 0.0, 0.05), ("Family.dbx", 0.05, 0.35, 0.6),
    ("Travel.dbx", 0.02, 0.2, 0.5), ("Receipts.dbx", 0.012, 0.0, 0.7),
    ("Archive\\Projects 2003.dbx", 0.07, 0.05, 0.4), ("Archive\\Projects 2004.dbx", 0.09, 0.05, 0.4),
    ("Archive\\Inbox.dbx", 0.05, 0.0, 0.3), ("Archive\\Old Mail\\Inbox 2001.dbx", 0.04, 0.0, 0.25),
    ("Archive\\Old Mail\\Inbox 2002.dbx", 0.045, 0.0, 0.25),
    ("Archive\\Old Mail\\Photos.dbx", 0.04, 0.6, 0.8),
    ("Lists\\comp.lang.c.dbx", 0.015, 0.0, 0.0), ("Lists\\announce.dbx", 0.0042, 0.0, 0.0),
    ("Lists\\support.dbx", 0.008, 0.0, 0.1), ("Lists\\builds.dbx", 0.0061, 0.0, 0.6),
]


def make_oe(folder, megabytes):
    total = megabytes * 1024 * 1024
    for index, (name, share, binary, attachments) in enumerate(OE_FILES):
        path = os.path.join(folder, *name.split("\\"))
        size = int(total * share)
        if os.path.exists(path) and os.path.getsize(path) == size:
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_mail_file(path, 1000 + index, size, DBX_SIGNATURE, binary, attachments)


def make_pst(path, megabytes):
    size = megabytes * 1024 * 1024
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    write_mail_file(path, 4242, size, PST_SIGNATURE, binary_share=0.2, attachment_share=0.4, zero_share=0.08)


def make_files(folder, files):
    """files: (relative path, size); a file already of its size is kept. A
    marker written last tells a complete folder from an interrupted one."""
    marker = folder.rstrip("/") + ".complete"
    if os.path.exists(marker):
        return
    for index, (name, size) in enumerate(files):
        path = os.path.join(folder, *name.split("\\"))
        if os.path.exists(path) and os.path.getsize(path) == size:
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_mail_file(path, 5000 + index, size, DBX_SIGNATURE, binary_share=0.1 if index % 7 == 0 else 0.0)
    open(marker, "w").close()


def make_many(folder, megabytes):
    total = megabytes * 1024 * 1024
    rng = random.Random(77)
    files = [("Inbox.dbx", total * 2 // 3)]
    rest = total - files[0][1]
    count = 1504
    # Sizes spread over three orders of magnitude (log-uniform), scaled to the rest.
    raw = [10 ** rng.uniform(3, 6.5) for _ in range(count)]
    scale = rest / sum(raw)
    for i, weight in enumerate(raw):
        size = max(1024, int(weight * scale))
        files.append(("Folder %02d\\Sub %d\\Mail %04d.dbx" % (i % 40, i % 3, i), size))
    make_files(folder, files)


def make_small(folder, count):
    rng = random.Random(count)
    make_files(folder, [("Box %03d\\Mail %05d.dbx" % (i // 100, i), rng.randint(1024, 4096)) for i in range(count)])


if __name__ == "__main__":
    kinds = {"oe": (make_oe, 600), "pst": (make_pst, 1024), "many": (make_many, 600), "small": (make_small, 1000)}
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in kinds:
        sys.exit(__doc__)
    make, default = kinds[sys.argv[1]]
    make(sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else default)
