#!/usr/bin/env python3
"""The help page, as a browser shows it, against the program's own texts.

Headless Chromium loads the page inside a small frame page of ours, which
reads the page's rendered text (innerText: what a reader sees, hidden parts
left out), its in-page links and its images once everything has loaded. Then:
  - every text the program shows in a message box or its status bar (read
    from the sources now, source_messages.py) appears in the rendered text,
    each paragraph of it (a blank line parts them); a printf conversion
    (%d, %s) stands for any one word or, alone in a paragraph, for anything;
  - every in-page link (#name) lands on an element with that id or name;
  - every image has loaded, with a size.
Usage: check-help-page.py PAGE.html SOURCE_DIR...
Exit 0 when all holds, 1 with what is wrong, 2 when the browser failed.
"""

import html
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import source_messages  # noqa: E402

FRAME_PAGE = """<!DOCTYPE html>
<html><body><pre id="report">not loaded</pre>
<iframe id="page" src="%s" style="width:1024px;height:4000px"></iframe>
<script>
window.addEventListener("load", () => {
  const report = document.getElementById("report");
  try {
    const frame = document.getElementById("page");
    const doc = frame.contentDocument;
    const pageUrl = frame.contentWindow.location.href.split("#")[0];
    const links = [];
    for (const a of doc.querySelectorAll("a[href]")) {
      const url = new URL(a.getAttribute("href"), pageUrl);
      if (url.href.split("#")[0] !== pageUrl || !url.hash) continue;
      const name = decodeURIComponent(url.hash.slice(1));
      const found = name === "top" || doc.getElementById(name) !== null || doc.getElementsByName(name).length > 0;
      links.push({href: a.getAttribute("href"), text: a.innerText, found: found});
    }
    const images = [];
    for (const img of doc.images) {
      images.push({src: img.getAttribute("src"), loaded: img.complete && img.naturalWidth > 0});
    }
    report.textContent = JSON.stringify({
      title: doc.title, text: doc.body.innerText, links: links, images: images});
  } catch (e) {
    report.textContent = JSON.stringify({error: String(e)});
  }
});
</script></body></html>
"""


def browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def render(page):
    """What the browser reports about the page (see FRAME_PAGE)."""
    chromium = browser()
    if not chromium:
        raise RuntimeError("no Chromium (Debian's package chromium; scripts/setup.sh installs it)")
    with tempfile.TemporaryDirectory() as work:
        frame = pathlib.Path(work, "frame.html")
        frame.write_text(FRAME_PAGE % html.escape(pathlib.Path(page).resolve().as_uri()), encoding="utf-8")
        command = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--user-data-dir=" + os.path.join(work, "profile"),
                   # The frame page reads a page of another file: file URLs
                   # are one origin only with this.
                   "--allow-file-access-from-files",
                   # Virtual time: the dump waits for every load, however slow.
                   "--virtual-time-budget=10000", "--dump-dom", frame.as_uri()]
        done = subprocess.run(command, capture_output=True, text=True, timeout=600)
    m = re.search(r'<pre id="report">(.*?)</pre>', done.stdout, re.DOTALL)
    if not m or m.group(1) == "not loaded":
        raise RuntimeError("Chromium did not report on the page (exit %d):\n%s" % (done.returncode, done.stderr[-2000:]))
    report = json.loads(html.unescape(m.group(1)))
    if "error" in report:
        raise RuntimeError("the frame page could not read the help page: " + report["error"])
    return report


def normalised(text):
    return re.sub(r"\s+", " ", text.replace("\u00a0", " ")).strip()


CONVERSION = re.compile(r"%%|%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|z|j|t|I64|I32|I)?[diouxXeEfgGcspn]")


def paragraph_pattern(paragraph, is_format):
    """A regular expression for one paragraph of a message, or None when it is
    nothing but what the program fills in."""
    paragraph = normalised(paragraph)
    if not is_format:
        return re.escape(paragraph) if paragraph else None
    pattern = ""
    fixed = ""
    last = 0
    for m in CONVERSION.finditer(paragraph):
        pattern += re.escape(paragraph[last:m.start()])
        fixed += paragraph[last:m.start()]
        if m.group(0) == "%%":
            pattern += "%"
            fixed += "%"
        elif m.group(0).endswith("s"):
            pattern += ".*?"  # a string can be anything
        else:
            # A number is one word on the page: the number itself, or the
            # word that stands for it ("Error n").
            pattern += r"\S+"
        last = m.end()
    pattern += re.escape(paragraph[last:])
    fixed += paragraph[last:]
    return pattern if fixed.strip() else None


def missing_messages(text, messages):
    """(where, paragraph) of every paragraph of a message that the text lacks."""
    shown = normalised(text)
    missing = []
    for m in messages:
        for paragraph in re.split(r"\n[ \t]*\n", m.text):
            pattern = paragraph_pattern(paragraph, m.is_format)
            if pattern and not re.search(pattern, shown):
                missing.append((m.where, paragraph))
    return missing


def check(page, source_dirs):
    messages = source_messages.extract(source_dirs)
    report = render(page)
    problems = []
    if not messages:
        problems.append("no message text found in %s: the sources are not where they were" % " ".join(source_dirs))
    for where, paragraph in missing_messages(report["text"], messages):
        problems.append("message not on the page: %r (%s)" % (paragraph, where))
    for link in report["links"]:
        if not link["found"]:
            problems.append("link %r (%r) lands on no anchor" % (link["href"], link["text"]))
    for image in report["images"]:
        if not image["loaded"]:
            problems.append("image %r does not load" % image["src"])
    print("%s: %d message texts from the sources, %d in-page links, %d images, %d characters of rendered text"
          % (page, len(messages), len(report["links"]), len(report["images"]), len(report["text"])))
    return problems


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        problems = check(argv[1], argv[2:])
    except (RuntimeError, subprocess.TimeoutExpired) as e:
        print("check-help-page: %s" % e, file=sys.stderr)
        return 2
    for p in problems:
        print("FAIL: " + p)
    if problems:
        return 1
    print("the help page shows every message, its links land and its images load")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
