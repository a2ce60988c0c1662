#!/usr/bin/env python3
"""Writes user.reg sections that regedit cannot import: links whose targets
run through links (some of which Wine cannot create, and passes over), a
chain as long as the server follows, and links that fan out at every level."""
import sys

SID = r"\Registry\User\S-1-5-21-0-0-0-1000"
BASE = r"Software\HivedumpDiff\Crafted"
sections = []


def key(path, *lines):
    name = (BASE + "\\" + path).replace("\\", "\\\\")
    sections.append("[%s] 1700000000\n%s\n" % (name, "".join(line + "\n" for line in lines)))


def link(path, target):
    units = SID + "\\" + BASE + "\\" + target
    key(path, "#link", '"SymbolicLinkValue"=hex(6):' + ",".join("%02x,00" % ord(c) for c in units))


# Targets that run through the link itself, or through each other.
link(r"Self\L", r"Self\L\x")
key(r"Self\L\y", '"lost"="y"')
key(r"Self\After", '"kept"="1"')
link(r"Mutual\A", r"Mutual\B\x")
link(r"Mutual\B", r"Mutual\A\x")
key(r"Mutual\A\y", '"lost"="y"')
key(r"Mutual\After", '"kept"="1"')
# A link on the way to a target must lead to keys that exist; the target's
# own missing names are created.
key(r"Nested\T", '"t"="t"')
link(r"Nested\One", r"Nested\Two\z")
link(r"Nested\Two", r"Nested\T")
key(r"Nested\One\y", '"made"="T\\\\z\\\\y"')
link(r"Nested\Three", r"Nested\One\z")
key(r"Nested\Three\y", '"made"="T\\\\z\\\\z\\\\y"')
link(r"Nested\Last", r"Nested\Two2")
link(r"Nested\Two2", r"Nested\Missing")
key(r"Nested\Last\y", '"made"="Missing\\\\y"')
# The server makes only the target's last name: a section below a link
# whose target lacks two names is passed over.
link(r"Nested\Deep", r"Nested\Gone\Deeper")
key(r"Nested\Deep\y", '"lost"="y"')
# The server makes the link's target before it finds the next name too
# long: the section is passed over, the target stays.
link(r"Long\L", r"Long\Made")
key("Long\\L\\" + "n" * 257, '"lost"="y"')
# 33 links in a row: below the first is past the server's limit, below the
# second is not.
key(r"Chain\T", '"t"="t"')
for i in range(1, 34):
    link(r"Chain\L%02d" % i, r"Chain\L%02d" % (i + 1) if i < 33 else r"Chain\T")
key(r"Chain\L01\y", '"lost"="y"')
key(r"Chain\L02\y", '"made"="y"')
# Two links to the next level at each of 30: the walk must stay bounded.
for i in range(1, 31):
    key(r"Fan\N%02d" % i, '"level"=dword:%08x' % i)
    if i < 30:
        link(r"Fan\N%02d\a" % i, r"Fan\N%02d" % (i + 1))
        link(r"Fan\N%02d\b" % i, r"Fan\N%02d" % (i + 1))

sys.stdout.write("\n" + "".join(sections))
