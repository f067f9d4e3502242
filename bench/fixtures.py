#!/usr/bin/env python3
"""Writes the files that bench/run serves side by side: the static site, the templates, the
rendered page (what PeloTest must answer for the template, byte for byte), the PHP renderer and
the settings files of every PeloTest configuration.

    fixtures.py site WORKDIR
    fixtures.py settings WORKDIR OUT.ini --port P [--vars N] [--nodes N] [--maxlog N]
                [--log-rows N] [--autosort 0|1] [--template NAME]

Everything is derived from fixed seeds, so two runs serve identical bytes.
"""

import argparse
import os
import random

CRLF = "\r\n"
EVENT = "Show"
LINKS = 5  # events the rendered template links to (discovered on the first request)
REFS = 50  # variable references in the benchmark template


def var_name(i):
    return "v%06d" % i


def var_value(i):
    return "value-%06d-%s" % (i, "x" * 12)


def ref_indices(nvars, refs):
    """Indices of the referenced variables, spread evenly over the table (so that a linear
    lookup cannot get lucky by finding them all near the top)."""
    return [(k * nvars) // refs for k in range(refs)]


def template_lines(nlines, nvars, refs=REFS, links=LINKS):
    """A page of nlines lines with refs variable references and links event links."""
    rng = random.Random(nlines * 7919 + nvars)
    head = [
        "<html>",
        "<head>",
        "<title>Bench page</title>",
        '<meta http-equiv="pragma" content="no-cache">',
        "</head>",
        "<body>",
    ]
    tail = ["</body>", "</html>"]
    body_count = nlines - len(head) - len(tail)
    assert body_count >= refs + links
    indices = ref_indices(nvars, refs)
    # Which body lines carry a reference or a link: spread evenly.
    ref_at = {(k * body_count) // refs: indices[k] for k in range(refs)}
    link_slots = [i for i in range(body_count) if i not in ref_at]
    link_at = {link_slots[(k * len(link_slots)) // links]: k + 1 for k in range(links)}
    words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod".split()
    body = []
    for i in range(body_count):
        text = " ".join(rng.choice(words) for _ in range(6))
        if i in ref_at:
            body.append('<p class="r%d">%s: /(%s)</p>' % (i % 7, text, var_name(ref_at[i])))
        elif i in link_at:
            k = link_at[i]
            body.append('<a href="page.htm?PELO_EVENT=Link%d&amp;id=%d">%s</a>' % (k, k, text))
        else:
            body.append('<p class="t%d">%s</p>' % (i % 7, text))
    return head + body + tail


def render(lines, nvars):
    """What the server answers: every reference replaced by the variable's value, every line
    ended by CR LF."""
    out = []
    for line in lines:
        start = line.find("/(")
        if start >= 0:
            end = line.index(")", start)
            name = line[start + 2 : end]
            index = int(name[1:])
            assert index < nvars
            line = line[:start] + var_value(index) + line[end + 1 :]
        out.append(line + CRLF)
    return "".join(out)


def write(path, data, mode="w"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    kwargs = {"newline": ""} if "b" not in mode else {}
    with open(path, mode, **kwargs) as f:
        f.write(data)


def fake_gif(size):
    """A 1x1 GIF padded with a comment block to exactly size bytes."""
    header = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff"
    image = b"\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00"
    trailer = b"\x3b"
    filler = size - len(header) - len(image) - len(trailer) - 3  # ext intro, label, terminator
    comment = b""
    while filler > 0:
        chunk = min(filler - 1, 255)
        comment += bytes([chunk]) + b"c" * chunk
        filler -= chunk + 1
    data = header + b"\x21\xfe" + comment + b"\x00" + image + trailer
    assert len(data) == size, len(data)
    return data


def html_page(size):
    head = "<html>" + CRLF + "<head>" + CRLF + "<title>Static bench page</title>" + CRLF
    head += "</head>" + CRLF + "<body>" + CRLF
    tail = "</body>" + CRLF + "</html>" + CRLF
    line = "<p>static text static text static text static text static text</p>" + CRLF
    body = ""
    while len(head) + len(body) + len(line) + len(tail) <= size:
        body += line
    pad = size - len(head) - len(body) - len(tail)
    body += "<!--" + "-" * (pad - 7) + "-->"
    page = head + body + tail
    assert len(page) == size
    return page


def random_bytes(size, seed):
    rng = random.Random(seed)
    return rng.randbytes(size)


def make_site(work):
    site = os.path.join(work, "site")
    tmpl = os.path.join(work, "tmpl")
    write(os.path.join(site, "pic.gif"), fake_gif(1024), "wb")
    write(os.path.join(site, "page.htm"), html_page(1024))
    write(os.path.join(site, "file200k.bin"), random_bytes(200 * 1024, 1), "wb")
    write(os.path.join(site, "file20m.bin"), random_bytes(20 * 1024 * 1024, 2), "wb")

    # The benchmark template and what it renders to with 1,000 variables.
    lines = template_lines(200, 1000)
    write(os.path.join(tmpl, "page.htm"), "".join(l + CRLF for l in lines))
    write(os.path.join(site, "rendered.htm"), render(lines, 1000))
    write(os.path.join(work, "expected", "page.htm"), render(lines, 1000))

    # Scaling templates: the same density of references and links, other lengths or tables.
    for nlines in (100, 10000):
        lines = template_lines(nlines, 1000, refs=nlines // 4)
        write(os.path.join(tmpl, "lines%d.htm" % nlines), "".join(l + CRLF for l in lines))
        write(os.path.join(work, "expected", "lines%d.htm" % nlines), render(lines, 1000))
    for nvars in (10, 100000):
        lines = template_lines(200, nvars)
        write(os.path.join(tmpl, "vars%d.htm" % nvars), "".join(l + CRLF for l in lines))
        write(os.path.join(work, "expected", "vars%d.htm" % nvars), render(lines, nvars))

    # php -S renders the same page with str_replace from an array of the 1,000 variables.
    php = os.path.join(work, "php")
    entries = "".join(
        "  '/(%s)' => '%s',\n" % (var_name(i), var_value(i)) for i in range(1000)
    )
    write(os.path.join(php, "vars.php"), "<?php\nreturn [\n" + entries + "];\n")
    write(
        os.path.join(php, "render.php"),
        "<?php\n"
        "$vars = require __DIR__ . '/vars.php';\n"
        "foreach ($_GET as $k => $v) { $vars['/(' . $k . ')'] = $v; }\n"
        "$page = file_get_contents('%s');\n"
        "header('Content-Type: text/html');\n"
        "echo str_replace(array_keys($vars), array_values($vars), $page);\n"
        % os.path.join(tmpl, "page.htm"),
    )


def make_settings(work, out, port, nvars, nodes, maxlog, log_rows, autosort, template):
    site = os.path.join(work, "site")
    tmpl = os.path.join(work, "tmpl")
    s = ["[Settings]"]
    s += [
        "DynamicPath=" + tmpl,
        "VirtualPath=app",
        "StaticPath=" + site,
        "StaticSite=",
        "Port=%d" % port,
        "MaxLog=%d" % maxlog,
        "VariablesAutoSort=%d" % autosort,
        "RemoteEdit=1",
        "SaveLog=%d" % (1 if log_rows else 0),
        "ServerActive=1",
    ]
    s += ["", "[Const]", "VarBefore=/(", "VarAfter=)", "Event=PELO_EVENT", ""]
    # The tree: an entry template, nodes-2 unassigned events that never match, and the node
    # that the benchmark event resolves to, last (the worst place for a search in tree order).
    s.append("[Tree]")
    s.append("Node0=" + template)
    for i in range(1, nodes - 1):
        s.append("Node%d=#x-filler-%06d" % (i, i))
    s.append("Node%d=#%s (%s)" % (nodes - 1, template, EVENT))
    s.append("")
    if log_rows:
        s.append("[Log]")
        for i in range(log_rows):
            s.append("Line%d=8;old%d.htm;;Old page %d;%s/old%d.htm" % (i, i, i, site, i))
        s.append("")
    s.append("[Variables]")
    s += ["%s=%s" % (var_name(i), var_value(i)) for i in range(nvars)]
    write(out, "\n".join(s) + "\n")


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("site")
    p.add_argument("work")
    p = sub.add_parser("settings")
    p.add_argument("work")
    p.add_argument("out")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--vars", type=int, default=1000)
    p.add_argument("--nodes", type=int, default=10)
    p.add_argument("--maxlog", type=int, default=100)
    p.add_argument("--log-rows", type=int, default=0)
    p.add_argument("--autosort", type=int, default=1)
    p.add_argument("--template", default="page.htm")
    a = parser.parse_args()
    if a.cmd == "site":
        make_site(a.work)
    else:
        make_settings(
            a.work, a.out, a.port, a.vars, a.nodes, a.maxlog, a.log_rows, a.autosort, a.template
        )


if __name__ == "__main__":
    main()
