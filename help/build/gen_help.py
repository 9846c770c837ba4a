#!/usr/bin/env python3
"""Generates the help project from help/topics.tsv and compiles it.

  gen_help.py header TOPICS OUT_H
      writes the C++ header of context numbers.
  gen_help.py project TOPICS MANUAL_DIR STAGE_DIR
      copies every file of the manual into STAGE_DIR and writes ZRQHelp.hhp,
      .hhc, .hhk and .ali there.
Exits non-zero with a message on a malformed list or a missing page.
"""
import html
import os
import re
import shutil
import sys

PROJECT = "ZRQHelp"


class Topic:
    def __init__(self, ctx, file, title, parent, keywords):
        self.ctx, self.file, self.title, self.parent = ctx, file, title, parent
        self.keywords = keywords


def fail(msg):
    sys.stderr.write("gen_help: " + msg + "\n")
    sys.exit(1)


def read_topics(path):
    topics = []
    header_seen = False
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.startswith("#"):
                continue
            cols = line.split("\t")
            if not header_seen and cols[0] == "id":
                header_seen = True
                continue
            if len(cols) < 4:
                fail(f"{path}:{n}: expected id, file, title, parent, keywords")
            try:
                ctx, parent = int(cols[0]), int(cols[3])
            except ValueError:
                fail(f"{path}:{n}: context and parent must be numbers")
            if ctx <= 0:
                fail(f"{path}:{n}: context numbers start at 1")
            kws = [k.strip() for k in (cols[4] if len(cols) > 4 else "").split(";") if k.strip()]
            topics.append(Topic(ctx, cols[1].strip(), cols[2].strip(), parent, kws))
    ids = [t.ctx for t in topics]
    if len(set(ids)) != len(ids):
        fail("duplicate context number")
    files = [t.file for t in topics]
    if len(set(files)) != len(files):
        fail("duplicate topic file")
    for t in topics:
        if t.parent != 0 and t.parent not in ids:
            fail(f"topic {t.ctx}: parent {t.parent} is not a topic")
        if not re.fullmatch(r"[A-Za-z0-9_./-]+\.html?", t.file):
            fail(f"topic {t.ctx}: bad file name {t.file!r}")
    return topics


def ident(topic):
    return "HC_" + re.sub(r"[^A-Za-z0-9]", "_", os.path.splitext(topic.file)[0]).upper()


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def header(topics, out):
    lines = ["// Generated from help/topics.tsv: the manual's context numbers.",
             "#pragma once", "", "namespace zrq::help {", ""]
    for t in topics:
        lines.append(f"inline constexpr int {ident(t)} = {t.ctx};  // {t.title}")
    lines += ["", "}  // namespace zrq::help", ""]
    write_if_changed(out, "\n".join(lines))


def attr(s):
    return html.escape(s, quote=True)


def sitemap_entry(params, indent):
    p = "".join(f'<param name="{attr(k)}" value="{attr(v)}">' for k, v in params)
    return f'{indent}<LI> <OBJECT type="text/sitemap">{p}</OBJECT>\n'


def hhc(topics):
    out = ['<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML>\n<HEAD></HEAD>\n<BODY>\n',
           '<OBJECT type="text/site properties"><param name="Window Styles" value="0x800025">'
           '</OBJECT>\n']

    def level(parent, depth):
        kids = [t for t in topics if t.parent == parent]
        if not kids:
            return
        out.append("  " * depth + "<UL>\n")
        for t in kids:
            out.append(sitemap_entry([("Name", t.title), ("Local", t.file)], "  " * (depth + 1)))
            level(t.ctx, depth + 1)
        out.append("  " * depth + "</UL>\n")

    level(0, 0)
    out.append("</BODY>\n</HTML>\n")
    return "".join(out)


def hhk(topics):
    keywords = {}
    for t in topics:
        for k in t.keywords:
            keywords.setdefault(k, [])
            if t not in keywords[k]:
                keywords[k].append(t)
    out = ['<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML>\n<HEAD></HEAD>\n<BODY>\n<UL>\n']
    for k in sorted(keywords, key=lambda s: s.lower()):
        params = [("Name", k)]
        for t in keywords[k]:
            params += [("Name", t.title), ("Local", t.file)]
        out.append(sitemap_entry(params, "  "))
    out.append("</UL>\n</BODY>\n</HTML>\n")
    return "".join(out), len(keywords)


def manual_files(manual):
    found = []
    for root, _dirs, names in os.walk(manual):
        for n in names:
            rel = os.path.relpath(os.path.join(root, n), manual).replace(os.sep, "/")
            found.append(rel)
    return sorted(found)


def project(topics, manual, stage):
    files = manual_files(manual)
    for t in topics:
        if t.file not in files:
            fail(f"topic {t.ctx}: page {t.file} is missing from {manual}")
    os.makedirs(stage, exist_ok=True)
    for rel in files:
        dst = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copyfile(os.path.join(manual, rel), dst)
    default = next((t.file for t in topics if t.parent == 0), topics[0].file)
    write_if_changed(os.path.join(stage, PROJECT + ".hhc"), hhc(topics))
    index_text, nkw = hhk(topics)
    write_if_changed(os.path.join(stage, PROJECT + ".hhk"), index_text)
    write_if_changed(os.path.join(stage, PROJECT + ".ali"),
                     "".join(f"{t.ctx}={t.file}\n" for t in topics))
    hhp = [
        "[OPTIONS]",
        "Compatibility=1.1 or later",
        f"Compiled file={PROJECT}.chm",
        f"Contents file={PROJECT}.hhc",
        f"Index file={PROJECT}.hhk",
        f"Default topic={default}",
        "Default Window=main",
        "Display compile progress=No",
        "Full-text search=Yes",
        "Language=0x409 English (United States)",
        f"Title={topics[0].title}",
        "",
        "[WINDOWS]",
        f'main="{topics[0].title}","{PROJECT}.hhc","{PROJECT}.hhk","{default}","{default}",'
        ',,,,0x63520,,0x384e,,,,,,,,0',
        "",
        "[FILES]",
    ] + files + ["", "[ALIAS]"] + [f"{ident(t)}={t.file}" for t in topics] + \
        ["", "[MAP]"] + [f"#define {ident(t)} {t.ctx}" for t in topics] + [""]
    write_if_changed(os.path.join(stage, PROJECT + ".hhp"), "\n".join(hhp))
    print(f"gen_help: {len(topics)} topics, {nkw} index keywords, {len(files)} files")


def main(argv):
    if len(argv) == 4 and argv[1] == "header":
        header(read_topics(argv[2]), argv[3])
    elif len(argv) == 5 and argv[1] == "project":
        project(read_topics(argv[2]), argv[3], argv[4])
    else:
        fail(__doc__)


if __name__ == "__main__":
    main(sys.argv)
