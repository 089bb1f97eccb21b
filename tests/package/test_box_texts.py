#!/usr/bin/env python3
"""Every literal text the pass hands its boxes is in the README as a code span and in the manual
page in bold; the run-time parts between them (the URL, an answer, a file's name) are not."""
import re
import sys
from pathlib import Path

root = Path(__file__).resolve().parents[2]
source = (root / "updater/update_pass.cpp").read_text(encoding="utf-8")
pieces = set()
for call in re.finditer(r"\b(?:ShowMessage|ComposeBox)\(", source):
    depth, end = 1, call.end()
    while depth:
        depth += {"(": 1, ")": -1}.get(source[end], 0)
        end += 1
    pieces.update(piece.strip() for piece in re.findall(r'u"([^"]*)"', source[call.end():end]))
manual = (root / "ralto-update.1").read_text(encoding="utf-8")
manual = re.sub(r"^\.B (.*)$|\\fB(.*?)\\f[RP]", lambda m: f"`{m[1] or m[2]}`", manual, flags=re.M)
manual = manual.replace("\\-", "-").replace("\\(:a", "ä").replace("\\&", "")
documents = {"README.md": (root / "README.md").read_text(encoding="utf-8"), "ralto-update.1": manual}
missing = [f"{name} lacks the box text `{piece}`" for name, text in documents.items()
           for piece in sorted(pieces) if f"`{piece}`" not in " ".join(text.split())]
print("\n".join(missing) or f"{len(pieces)} box texts, each in both documents")
sys.exit(1 if missing or not pieces else 0)
