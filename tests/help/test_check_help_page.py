#!/usr/bin/env python3
"""The help-page check finds what it is meant to find: the texts of a fixture
source that cover every way a message is written, and a page with a missing
message, a link to nowhere and an image that does not load, as Chromium
shows it."""

import importlib.util
import os
import pathlib
import sys
import tempfile
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
import source_messages  # noqa: E402

spec = importlib.util.spec_from_file_location("check_help_page", os.path.join(here, "check-help-page.py"))
check_help_page = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_help_page)

FIXTURES = os.path.join(here, "fixtures")


class SourceMessagesTest(unittest.TestCase):
    def test_finds_every_way_a_text_reaches_the_user_and_nothing_else(self):
        found = sorted((m.text, m.is_format) for m in source_messages.extract([FIXTURES]))
        expected = sorted([
            ("Direct text", False),
            ("Through two helpers", False),
            ("Named and joined", False),
            ("From a macro", False),
            ("%s : Error %d", True),
            ("Told by a helper", False),
            ("Either this", False),
            ("Filled by a helper : Error %d", True),
            ("Kept as it was", False),
            ("Banner of %d", True),
            ("It failed : Error %d\n\n%s", True),
            ("Advice given through %s.", False),
            ("Status through a helper", False),
            ("Status sent", False),
            ("Status by its title", False),
            ("First status", False),
        ])
        self.assertEqual(found, expected)

    def test_says_where_a_text_is_written(self):
        where = {m.text: m.where for m in source_messages.extract([FIXTURES])}
        path = os.path.join(FIXTURES, "messages.cpp")
        lines = pathlib.Path(path).read_text().splitlines()

        def line_of(literal):
            return "%s:%d" % (path, next(n for n, line in enumerate(lines, 1) if literal in line))

        self.assertEqual(where["Direct text"], line_of('"Direct text"'))
        self.assertEqual(where["Named and joined"], line_of('"Named "'))


def message(text, is_format=False):
    return source_messages.Message(text, "fixture:1", is_format)


class MatchingTest(unittest.TestCase):
    def missing(self, page_text, *messages):
        return [p for _, p in check_help_page.missing_messages(page_text, list(messages))]

    def test_a_number_matches_any_one_word(self):
        m = message("Impossible To Create Movie File : Error %d", True)
        self.assertEqual(self.missing("Impossible To Create Movie File : Error n means", m), [])
        self.assertEqual(self.missing("Impossible To Create Movie File : Error -43", m), [])
        self.assertEqual(self.missing("Impossible To Create Movie File : -43", m), [m.text])
        self.assertEqual(self.missing("Impossible to create Movie File : Error n", m), [m.text])

    def test_each_paragraph_is_looked_for_and_a_lone_string_is_anything(self):
        m = message("It failed : Error %d\n\n%s\n\nThen do this.", True)
        self.assertEqual(self.missing("It failed : Error n ... Then do this.", m), [])
        self.assertEqual(self.missing("It failed : Error n", m), ["Then do this."])
        spaced = message("It failed : Error %d \n\nThen do this.", True)
        self.assertEqual(self.missing("It failed : Error n. Then do this.", spaced), [])

    def test_line_breaks_and_spaces_on_the_page_do_not_count(self):
        m = message("Impossible to create  GWorld")
        self.assertEqual(self.missing("Impossible to create\u00a0 GWorld", m), [])
        self.assertEqual(self.missing("Impossible to\ncreate GWorld", m), [])
        self.assertEqual(self.missing("Impossible to create a GWorld", m), [m.text])

    def test_a_percent_in_a_plain_text_is_itself(self):
        m = message("Advice given through %s.")
        self.assertEqual(self.missing("Advice given through %s.", m), [])
        self.assertEqual(self.missing("Advice given through anything.", m), [m.text])


PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>fixture</title></head><body>
<p id="there">Direct text. <a href="#there">fine</a> <a href="#named">fine too</a>
<a href="#nowhere">broken</a> <a href="other.html#x">another page</a></p>
<a name="named"></a>
<p style="display:none">Hidden text</p>
<p>It failed : Error <i>n</i></p>
<img src="dot.svg" alt="dot"> <img src="missing.png" alt="gone">
</body></html>
"""
DOT = '<svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"><rect width="4" height="4"/></svg>'


class BrowserTest(unittest.TestCase):
    def test_a_faulty_page_fails_on_each_fault_and_only_on_them(self):
        with tempfile.TemporaryDirectory() as work:
            pathlib.Path(work, "index.html").write_text(PAGE, encoding="utf-8")
            pathlib.Path(work, "dot.svg").write_text(DOT, encoding="utf-8")
            sources = os.path.join(work, "src")
            os.mkdir(sources)
            pathlib.Path(sources, "a.cpp").write_text(
                'void f(int e) {\n'
                '  MessageBoxA(0, "Direct text", 0, 0);\n'
                '  MessageBoxA(0, "Hidden text", 0, 0);\n'
                '  char t[64];\n'
                '  snprintf(t, sizeof t, "It failed : Error %d\\n\\nSee the page.", e);\n'
                '  MessageBoxA(0, t, 0, 0);\n'
                '}\n', encoding="utf-8")
            problems = check_help_page.check(os.path.join(work, "index.html"), [sources])
        where = os.path.join(sources, "a.cpp")
        self.assertEqual(sorted(problems), sorted([
            "message not on the page: 'Hidden text' (%s:3)" % where,
            "message not on the page: 'See the page.' (%s:5)" % where,
            "link '#nowhere' ('broken') lands on no anchor",
            "image 'missing.png' does not load",
        ]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
