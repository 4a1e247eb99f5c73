#!/usr/bin/env python3
"""Writes a manual page for one of our command-line tools from its own --help texts, so the page cannot
drift from the program. Usage: make_manpage.py TOOL-PATH NAME OUT VERSION DATE [EXTRA]

The top-level help gives the synopsis, the options and the subcommands; each subcommand's help gives its own
section. VERSION and DATE (the version's release date) go into the page's title line. EXTRA, a file of ready
roff (EXAMPLES, FILES, ...), is appended."""

import re
import subprocess
import sys


def help_text(tool, *args):
    run = subprocess.run([tool, *args, "--help"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        sys.exit(f"make_manpage: {tool} {' '.join(args)} --help exited with {run.returncode}")
    return run.stdout


def esc(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def sections(text):
    """Splits a help text into its leading lines and its 'Heading:' blocks."""
    head, blocks, current = [], {}, None
    for line in text.splitlines():
        m = re.fullmatch(r"([A-Z][A-Za-z ]*):", line)
        if m and not line.startswith(" "):
            current = m.group(1)
            blocks[current] = []
        elif current is None:
            head.append(line)
        else:
            blocks[current].append(line)
    return head, blocks


def items(lines):
    """Pairs of (term, description) from the indented two-column lists CLI11 prints."""
    out = []
    for line in lines:
        if not line.strip():
            continue
        m = re.match(r"  (\S.*?)(?:\s{2,}(\S.*))?$", line)
        if line.startswith("  ") and not line.startswith("    ") and m:
            out.append([m.group(1).strip(), m.group(2) or ""])
        elif out:
            out[-1][1] = (out[-1][1] + " " + line.strip()).strip()
        else:
            out.append(["", line.strip()])
    return out


def emit_items(out, pairs):
    for term, desc in pairs:
        out.append(".TP")
        out.append("\\fB" + esc(term) + "\\fR")
        out.append(esc(desc))


def footer_of(blocks):
    """CLI11 prints the footer as the last lines after a blank line; they end the last block."""
    for name in reversed(list(blocks)):
        lines = blocks[name]
        if "" in lines:
            cut = len(lines) - 1 - lines[::-1].index("")
            footer = [l for l in lines[cut + 1:] if l.strip()]
            del lines[cut:]
            return footer
    return []


def main():
    if len(sys.argv) not in (6, 7):
        sys.exit(__doc__)
    tool, name, out_path, version, date = sys.argv[1:6]
    head, blocks = sections(help_text(tool))
    footer = footer_of(blocks)
    summary = head[0].split(":", 1)[1].strip() if head and ":" in head[0] else name
    usage = next((l.split(":", 1)[1].strip() for l in head if l.startswith("Usage:")), name)
    out = [f'.TH {name.upper()} 1 "{date}" "Tessera {version}" "User Commands"', ".SH NAME", f"{esc(name)} \\- {esc(summary)}"]
    out += [".SH SYNOPSIS", ".B " + esc(name), esc(usage.split(" ", 1)[1] if " " in usage else "")]
    out += [".SH OPTIONS"]
    emit_items(out, items(blocks.get("Options", [])))
    subs = items(blocks.get("Subcommands", []))
    if subs:
        out.append(".SH COMMANDS")
        for sub, desc in subs:
            sub_head, sub_blocks = sections(help_text(tool, sub))
            footer_of(sub_blocks)
            sub_usage = next((l.split(":", 1)[1].strip() for l in sub_head if l.startswith("Usage:")), "")
            out += [".SS " + esc(sub), esc(desc), ".PP", ".B " + esc(sub_usage)]
            for heading in ("Positionals", "Options"):
                pairs = [p for p in items(sub_blocks.get(heading, [])) if not p[0].startswith("-h,")]
                if pairs:
                    out += [".PP", heading + ":", ".RS"]
                    emit_items(out, pairs)
                    out.append(".RE")
    if footer:
        out += [".SH EXIT STATUS", esc(" ".join(footer).replace("Exit status: ", ""))]
    if len(sys.argv) == 7:
        with open(sys.argv[6], encoding="utf-8") as extra:
            out.append(extra.read().rstrip("\n"))
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
