"""The texts the program shows the user, read from its C++ sources.

A text counts when it reaches a message box (the text argument of
MessageBox*) or the status bar (SB_SETTEXT, a status window's creation text,
SetWindowText or WM_SETTEXT on a handle named after the status bar), whether
it is written there directly or travels through:
  - a helper that hands one of its parameters on to such a call (found to any
    depth: tell(text) -> MessageBoxA(..., text, ...));
  - a named constant (const char kX[] = "..." "...";, #define X "...");
  - a buffer filled by a printf-style call or a string copy, in the same
    function or anywhere (a global buffer); the format is the text, its
    conversions stand for whatever the program puts there, and the constant
    strings given for its %s are texts of their own.

Usage: source_messages.py DIR...   prints every text found, with where.
"""

import os
import re
import sys
from dataclasses import dataclass, field

SOURCE_SUFFIXES = (".cpp", ".cc", ".c", ".h", ".hpp")

# Calls that fill their first argument, and where their text argument is: a
# format, or a text copied as it is.
PRINTF_FILLERS = {
    "snprintf": 2, "_snprintf": 2, "sprintf_s": 2, "_snprintf_s": 3, "StringCchPrintfA": 2,
    "StringCbPrintfA": 2, "sprintf": 1, "wsprintfA": 1, "wsprintf": 1,
}
FILLERS = dict(PRINTF_FILLERS, strcpy=1, lstrcpyA=1, lstrcpy=1, strcat=1, lstrcatA=1, strncpy=1,
               lstrcpynA=1, strcpy_s=2, strcat_s=2, strncat=1)
MESSAGE_BOXES = {"MessageBoxA", "MessageBoxW", "MessageBox", "MessageBoxExA", "MessageBoxExW", "MessageBoxEx"}
SEND_MESSAGES = {"SendMessageA", "SendMessageW", "SendMessage", "PostMessageA", "PostMessageW", "PostMessage",
                 "SendMessageTimeoutA", "SendMessageTimeoutW", "SendNotifyMessageA", "SendNotifyMessageW"}
SET_TEXTS = {"SetWindowTextA", "SetWindowTextW", "SetWindowText"}
STATUS_WINDOWS = {"CreateStatusWindowA", "CreateStatusWindowW", "CreateStatusWindow"}
STATUS_CLASSES = {"STATUSCLASSNAMEA", "STATUSCLASSNAMEW", "STATUSCLASSNAME"}
NOT_CALLS = {"if", "for", "while", "switch", "return", "sizeof", "catch", "alignof", "decltype", "defined",
             "static_cast", "reinterpret_cast", "const_cast", "dynamic_cast", "noexcept", "throw", "new",
             "delete"}

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", "'": "'", '"': '"', "?": "?", "a": "\a",
           "b": "\b", "f": "\f", "v": "\v"}


@dataclass
class Token:
    kind: str  # "str", "id", "num", "punct"
    text: str
    line: int


@dataclass
class Message:
    text: str  # printf conversions (%d, %s...) stand for what the program fills in
    where: str  # file:line
    is_format: bool = False


@dataclass
class Function:
    name: str
    params: list
    body: list  # tokens between the braces


@dataclass
class Unit:
    path: str
    tokens: list
    functions: list = field(default_factory=list)
    outside: list = field(default_factory=list)  # the tokens of no function's body


def unescape(body):
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        nxt = body[i + 1]
        if nxt == "x":
            m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif nxt in "01234567":
            m = re.match(r"[0-7]{1,3}", body[i + 1:])
            out.append(chr(int(m.group(0), 8)))
            i += 1 + len(m.group(0))
        else:
            out.append(ESCAPES.get(nxt, nxt))
            i += 2
    return "".join(out)


TOKEN = re.compile(r"""
    (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<pre>^[ \t]*\#(?:[^\n\\]|\\.)*)
  | (?P<str>(?:u8|u|U|L)?"(?:[^"\\\n]|\\.)*")
  | (?P<chr>(?:u8|u|U|L)?'(?:[^'\\\n]|\\.)*')
  | (?P<id>[A-Za-z_][A-Za-z_0-9]*)
  | (?P<num>[0-9][0-9A-Za-z_.']*)
  | (?P<ws>\s+)
  | (?P<punct>::|->|\+=|&&|\|\||.)
""", re.VERBOSE | re.DOTALL | re.MULTILINE)


def tokenize(source):
    """Tokens with adjacent string literals joined, as the compiler joins them.
    A #define NAME "text" becomes the tokens of a constant definition."""
    tokens = []
    line = 1
    for m in TOKEN.finditer(source):
        kind = m.lastgroup
        text = m.group(0)
        if kind == "pre":
            d = re.match(r'\s*#\s*define\s+([A-Za-z_]\w*)\s+((?:"(?:[^"\\\n]|\\.)*"\s*)+)$', text)
            if d:
                value = "".join(unescape(s) for s in re.findall(r'"((?:[^"\\\n]|\\.)*)"', d.group(2)))
                tokens += [Token("id", d.group(1), line), Token("punct", "=", line), Token("str", value, line),
                           Token("punct", ";", line)]
        elif kind == "str":
            value = unescape(text[text.index('"') + 1:-1])
            if tokens and tokens[-1].kind == "str":
                tokens[-1].text += value
            else:
                tokens.append(Token("str", value, line))
        elif kind == "chr":
            tokens.append(Token("num", text, line))
        elif kind in ("id", "num", "punct"):
            tokens.append(Token(kind, text, line))
        line += text.count("\n")
    return tokens


CLOSING = {"(": ")", "[": "]", "{": "}"}


def matching(tokens, i):
    """The index of the bracket that closes the one at i."""
    opener = tokens[i].text
    depth = 0
    for j in range(i, len(tokens)):
        t = tokens[j]
        if t.kind != "punct":
            continue
        if t.text == opener:
            depth += 1
        elif t.text == CLOSING[opener]:
            depth -= 1
            if depth == 0:
                return j
    return len(tokens) - 1


def split_args(tokens, open_index):
    """The argument token lists of the call whose '(' is at open_index."""
    close = matching(tokens, open_index)
    args, current, depth = [], [], 0
    for t in tokens[open_index + 1:close]:
        if t.kind == "punct" and t.text in "([{":
            depth += 1
        elif t.kind == "punct" and t.text in ")]}":
            depth -= 1
        if depth == 0 and t.kind == "punct" and t.text == ",":
            args.append(current)
            current = []
        else:
            current.append(t)
    if current or args:
        args.append(current)
    return args


def calls(tokens):
    """(name, argument token lists) of every call in tokens."""
    for i in range(len(tokens) - 1):
        t = tokens[i]
        if t.kind == "id" and t.text not in NOT_CALLS and tokens[i + 1].text == "(":
            yield t.text, split_args(tokens, i + 1)


def param_names(tokens):
    names = []
    args = split_args(tokens, 0) if tokens else []
    for arg in args:
        ids = []
        for t in arg:
            if t.text == "=":
                break
            if t.kind == "id":
                ids.append(t.text)
        names.append(ids[-1] if len(ids) > 1 else None)
    return names


def find_functions(unit):
    toks = unit.tokens
    i = 0
    outside_from = 0
    while i < len(toks) - 1:
        t = toks[i]
        if t.kind == "id" and t.text not in NOT_CALLS and toks[i + 1].text == "(":
            close = matching(toks, i + 1)
            j = close + 1
            while j < len(toks) and toks[j].kind == "id" and toks[j].text in ("const", "noexcept", "override"):
                j += 1
            if j < len(toks) and toks[j].text == "{" and (i == 0 or toks[i - 1].text not in ("=", "return")):
                end = matching(toks, j)
                unit.functions.append(Function(t.text, param_names(toks[i + 1:close + 1]), toks[j + 1:end]))
                unit.outside += toks[outside_from:j + 1]
                outside_from = end
                # Lambdas and local classes are looked at as part of this function.
                i = end
                continue
        i += 1
    unit.outside += toks[outside_from:]


def constants(tokens, path):
    """NAME -> (text, where) for every NAME[...] = "text" or NAME = "text" in tokens."""
    found = {}
    for i, t in enumerate(tokens):
        if t.kind != "id":
            continue
        j = i + 1
        if j < len(tokens) and tokens[j].text == "[":
            j = matching(tokens, j) + 1
        if j + 1 < len(tokens) and tokens[j].text in ("=", "+=") and tokens[j + 1].kind == "str":
            found.setdefault(t.text, []).append((tokens[j + 1].text, "%s:%d" % (path, tokens[j + 1].line)))
    return found


def declared_in(name, body):
    """Is name a variable of this body (char name[...], std::string name = ...)?"""
    for i in range(1, len(body) - 1):
        if body[i].kind == "id" and body[i].text == name and body[i - 1].kind == "id" \
                and body[i - 1].text not in ("return", "case", "delete") and body[i + 1].text in "[=;({":
            return True
    return False


def mentions(arg, pattern):
    return any(t.kind in ("id", "str") and re.search(pattern, t.text, re.IGNORECASE) for t in arg)


def sink_args(name, args, sinks):
    """The arguments of a call that reach a message box or the status bar."""
    if name in MESSAGE_BOXES and len(args) > 1:
        return [args[1]]
    if name in SEND_MESSAGES and len(args) > 3:
        if mentions(args[1], r"^SB_SETTEXT") or (mentions(args[1], r"^WM_SETTEXT$") and mentions(args[0], "status")):
            return [args[3]]
    if name in SET_TEXTS and len(args) > 1 and mentions(args[0], "status"):
        return [args[1]]
    if name in STATUS_WINDOWS and len(args) > 1:
        return [args[1]]
    if any(mentions(a, r"^(?:%s)$|^msctls_statusbar32$" % "|".join(STATUS_CLASSES)) for a in args):
        return [a for a in args if not mentions(a, r"^msctls_statusbar32$")]
    if name in sinks:
        return [args[k] for k in sinks[name] if k < len(args)]
    return []


class Extractor:
    def __init__(self, units):
        self.units = units
        self.file_constants = {u.path: constants(u.tokens, u.path) for u in units}
        self.all_constants = {}
        for per_file in self.file_constants.values():
            for k, v in per_file.items():
                self.all_constants.setdefault(k, []).extend(v)
        self.sinks = self.helpers()
        self.user_fillers = self.fillers()

    def helpers(self):
        """Function name -> indexes of parameters that reach a sink, to any depth."""
        sinks = {}
        changed = True
        while changed:
            changed = False
            for unit in self.units:
                for f in unit.functions:
                    for name, args in calls(f.body):
                        for arg in sink_args(name, args, sinks):
                            for t in self.reach(arg, f):
                                if t.kind == "id" and t.text in f.params:
                                    k = f.params.index(t.text)
                                    if k not in sinks.setdefault(f.name, set()):
                                        sinks[f.name].add(k)
                                        changed = True
        return sinks

    def fillers(self):
        """Function name -> (parameter index, function, unit) for each function
        that fills a buffer it is given (formatError(char* text, ...))."""
        found = {}
        for unit in self.units:
            for f in unit.functions:
                for k, param in enumerate(f.params):
                    if param and any(True for _ in self.fills(param, f.body)):
                        found.setdefault(f.name, []).append((k, f, unit))
        return found

    def filled_by_helpers(self, name, scope):
        """What the helpers called in scope on the buffer name put in it."""
        found = []
        for call, args in calls(scope):
            for k, f, unit in self.user_fillers.get(call, []):
                if k < len(args) and args[k][:1] and args[k][0].kind == "id" and args[k][0].text == name:
                    found += self.from_fills(list(self.fills(f.params[k], f.body)), f, unit)
        return found

    def reach(self, arg, function):
        """The tokens of an argument and of whatever filled the buffers it names in this function."""
        tokens = list(arg)
        for t in arg:
            if t.kind == "id":
                for _, text_arg, rest in self.fills(t.text, function.body):
                    tokens += text_arg + [x for r in rest for x in r]
        return tokens

    def fills(self, name, scope):
        """(format or text tokens, the other arguments) of each call in scope that fills the buffer name."""
        for call, args in calls(scope):
            if call in FILLERS and args and any(t.kind == "id" and t.text == name for t in args[0][:1]):
                k = FILLERS[call]
                if k < len(args):
                    yield call in PRINTF_FILLERS, args[k], args[k + 1:]

    def resolve(self, arg, function, unit):
        """Messages that an argument expression carries."""
        found = []
        for t in arg:
            if t.kind == "str":
                found.append(Message(t.text, "%s:%d" % (unit.path, t.line)))
            elif t.kind == "id" and not (function and t.text in function.params):
                found += self.resolve_name(t.text, function, unit)
        return found

    def resolve_name(self, name, function, unit):
        if function:
            # Every text this function puts in it: its first, and any it writes over that.
            filled = list(self.fills(name, function.body))
            found = [Message(text, where) for text, where in constants(function.body, unit.path).get(name, [])]
            found += self.from_fills(filled, function, unit) + self.filled_by_helpers(name, function.body)
            if found or declared_in(name, function.body):
                return found
        # A buffer of the file or of the program, filled wherever.
        for other in [unit] + [u for u in self.units if u is not unit]:
            for f in other.functions:
                if not declared_in(name, f.body):
                    filled = list(self.fills(name, f.body))
                    if filled:
                        return self.from_fills(filled, f, other)
        for table in (self.file_constants[unit.path], self.all_constants):
            if name in table:
                return [Message(text, where) for text, where in table[name]]
        return []

    def from_fills(self, filled, function, unit):
        found = []
        for printf, text_arg, rest in filled:
            for m in self.resolve(text_arg, function, unit):
                m.is_format = m.is_format or printf
                found.append(m)
            if printf:
                for r in rest:
                    found += self.resolve(r, function, unit)
        return found

    def messages(self):
        found = {}
        for unit in self.units:
            owners = [(f, f.body) for f in unit.functions] + [(None, unit.outside)]
            for function, scope in owners:
                for name, args in calls(scope):
                    for arg in sink_args(name, args, self.sinks):
                        for m in self.resolve(arg, function, unit):
                            if not m.text.strip():
                                continue  # a separator ("", "\n\n") put between texts
                            key = (m.text, m.is_format)
                            if key not in found:
                                found[key] = m
        return list(found.values())


def load(dirs):
    units = []
    for d in dirs:
        for root, _, files in os.walk(d):
            for f in sorted(files):
                if f.endswith(SOURCE_SUFFIXES):
                    path = os.path.join(root, f)
                    with open(path, encoding="utf-8", errors="replace") as fh:
                        unit = Unit(path, tokenize(fh.read()))
                    find_functions(unit)
                    units.append(unit)
    return units


def extract(dirs):
    return Extractor(load(dirs)).messages()


if __name__ == "__main__":
    for m in sorted(extract(sys.argv[1:]), key=lambda m: m.where):
        print("%s\t%s%s" % (m.where, "format " if m.is_format else "", repr(m.text)))
