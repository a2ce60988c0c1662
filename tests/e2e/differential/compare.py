#!/usr/bin/env python3
"""Compares an export written by the Windows build under Wine with the one the
Linux tool wrote from the prefix's files.

Keys that Wine's components make only while they run are in no registry file,
so the Linux tool cannot see them: such a key is left out of the comparison
when, and only when, no file of the prefix holds it or anything below it (with
links followed). Everything else must be byte-identical, in the same order.

usage: compare.py PREFIX CODEPAGE WINE_EXPORT NATIVE_EXPORT
"""
import re
import sys


def blocks_of(data):
    """The export as (header, block bytes) pairs, the file header first.

    The line end that ends the file is no line of the last block: a block
    reads the same whether a runtime-only key, left out, follows it or not."""
    lines = data.split(b"\r\n")
    if len(lines) > 1 and lines[-1] == b"":
        lines.pop()
    blocks = [(b"", [])]
    for line in lines:
        if line.startswith(b"["):
            blocks.append((line, []))
        blocks[-1][1].append(line)
    return [(header, b"\r\n".join(body)) for header, body in blocks]


def unescape_section(text):
    """A key path as a Wine registry file writes it, decoded."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
            out.append(n)
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_registry_file(path):
    """Section paths (lower case) and links (path -> target) of one file."""
    sections = set()
    links = {}
    current = None
    try:
        with open(path, "r", encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\r\n")
                if line.startswith("["):
                    end = line.rfind("]")
                    current = unescape_section(line[1:end]).lower()
                    sections.add(current)
                elif line == "#link" and current is not None:
                    links[current] = None
                elif current in links and line.lower().startswith('"symboliclinkvalue"=hex(6):'):
                    hexes = line.split(":", 1)[1]
                    links[current] = hexes
                elif current in links and links[current] is not None and links[current].endswith("\\"):
                    links[current] = links[current][:-1] + line.strip()
    except FileNotFoundError:
        pass
    for key, hexes in list(links.items()):
        if hexes is None:
            continue
        raw = bytes(int(h, 16) for h in hexes.replace("\\", "").split(",") if h.strip())
        links[key] = raw.decode("utf-16-le", errors="replace").rstrip("\0").lower()
    return sections, links


class Prefix:
    def __init__(self, prefix):
        self.files = {}
        for name, root in (("system.reg", "\\registry\\machine"), ("user.reg", None), ("userdef.reg", "\\registry\\user\\.default")):
            path = f"{prefix}/{name}"
            if root is None:
                root = "\\registry\\user\\" + self.user_sid(path)
            sections, links = read_registry_file(path)
            self.files[root] = (sections, links)
        self.user_root = [r for r in self.files if r.startswith("\\registry\\user\\s-")][0]

    @staticmethod
    def user_sid(path):
        with open(path, "r", encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith(";; All keys relative to"):
                    return unescape_section(line.split("\\\\")[-1].strip()).lower()
        return "s-1-5-21-0-0-0-1000"

    def full_path(self, key):
        master, _, rest = key.partition("\\")
        master = master.upper()
        if master == "HKEY_LOCAL_MACHINE":
            base = "\\registry\\machine"
        elif master == "HKEY_CURRENT_USER":
            base = self.user_root
        elif master == "HKEY_CLASSES_ROOT":
            base = "\\registry\\machine\\software\\classes"
        elif master == "HKEY_USERS":
            base = "\\registry\\user"
        else:
            raise ValueError(key)
        return (base + "\\" + rest if rest else base).lower().rstrip("\\")

    def resolve(self, path):
        for _ in range(16):
            changed = False
            for root, (_, links) in self.files.items():
                for link, target in links.items():
                    full = root + "\\" + link
                    if target and (path == full or path.startswith(full + "\\")):
                        path = target + path[len(full):]
                        changed = True
            if not changed:
                break
        return path

    def holds(self, key):
        path = self.resolve(self.full_path(key))
        for root, (sections, _) in self.files.items():
            if path == root:
                return True
            if path.startswith(root + "\\"):
                rel = path[len(root) + 1:]
                if any(s == rel or s.startswith(rel + "\\") for s in sections):
                    return True
            elif root.startswith(path + "\\"):
                return True
        return False


def main():
    prefix, code_page, wine_path, native_path = sys.argv[1:5]
    encoding = {"932": "cp932", "936": "gbk", "1251": "cp1251", "1256": "cp1256", "65001": "utf-8"}.get(code_page, "cp1252")
    wine = blocks_of(open(wine_path, "rb").read())
    native = blocks_of(open(native_path, "rb").read())
    native_headers = {h for h, _ in native}
    registry = Prefix(prefix)

    left_out = []
    kept = []
    for header, body in wine:
        if header and header not in native_headers:
            key = header[1:-1].decode(encoding, errors="replace")
            if registry.holds(key):
                print(f"MISSING natively but held by a file: {key}")
                return 1
            left_out.append(key)
            continue
        kept.append((header, body))

    if len(kept) != len(native):
        wine_only = [h for h, _ in kept]
        for header, _ in native:
            if header not in set(wine_only):
                print(f"EXTRA natively: {header.decode(encoding, errors='replace')}")
                return 1
    for (wh, wb), (nh, nb) in zip(kept, native):
        if wh != nh or wb != nb:
            print("DIFFERENT block:")
            print("  wine:  ", wb[:2000])
            print("  native:", nb[:2000])
            return 1
    if len(kept) != len(native):
        print(f"block counts differ: wine {len(kept)}, native {len(native)}")
        return 1
    print(f"identical: {len(native)} blocks, {len(left_out)} runtime-only keys left out")
    for key in left_out[:50]:
        print(f"  left out: {key}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
