"""Makes the listing of docs/lines.md from the sources: every line a traceback entry of the
module can carry, with the equivalent Python statement at that line.

The bodies number their statements in the order they stand (`call.next()` before each),
and each statement is written as a `//:` comment right before its `next()`:

    //: Text = wx.StaticText(TargetPanel, -1, Info, pos=({caption_x}, PosTinggi - 22))
    call.next();

A `{field}` is filled from the table row the function is made from. A comment tagged
`[each X]` stands for one line per item of X (the schemes of btnconfig, the kinds of
icon, the recolourings of a hover handler), where `{if}` is "if" for the first item and
"elif" after it; one tagged `[flag]` is there only for rows with that flag; a `def` is
followed by the inner function's own body and a blank line. Definition lines, class lines
and the load's body steps come from the tables of the sources. Two statements that would
stand at one line are an error.

    python3 build-aux/lines.py          rewrites the listing in docs/lines.md
    python3 build-aux/lines.py --check  fails if docs/lines.md is not what it would write
"""

import json
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
LISTING = ROOT / "docs" / "lines.md"


def source(path):
    return (SRC / path).read_text()


# ---------------------------------------------------------------------------------------
# C++ initialisers and constants as Python values

TOKEN = re.compile(r'\s*(?:"((?:[^"\\]|\\.)*)"|([{},])|([-\w:&.<>]+))')


def parse_initialiser(text, names):
    """`{1, "a", {b}}` as [1, "a", [value of b]]; adjacent strings are joined."""
    tokens = []
    position = 0
    while position < len(text.rstrip()):
        match = TOKEN.match(text, position)
        if match is None:
            raise ValueError("cannot read %r" % text[position:position + 40])
        position = match.end()
        if match[1] is not None:
            text_value = json.loads('"%s"' % match[1])
            if tokens and isinstance(tokens[-1], tuple) and tokens[-1][0] == "text":
                tokens[-1] = ("text", tokens[-1][1] + text_value)
            else:
                tokens.append(("text", text_value))
        else:
            tokens.append(match[2] or ("word", match[3]))

    def value(index):
        token = tokens[index]
        if token == "{":
            items, index = [], index + 1
            while tokens[index] != "}":
                item, index = value(index)
                items.append(item)
                if tokens[index] == ",":
                    index += 1
            return items, index + 1
        kind, word = token
        if kind == "text":
            return word, index + 1
        return resolve(word, names), index + 1

    result, _ = value(0)
    return result


def resolve(word, names):
    word = re.sub(r"^&((K|Constants)::)?", "", word)
    if re.fullmatch(r"-?\d+", word):
        return int(word)
    if word == "nullptr":
        return None
    if word in names:
        return names[word]
    return word


def braced(text, start):
    """The text of the braces that open at `start`, with them."""
    depth = 0
    for index in range(start, len(text)):
        depth += {"{": 1, "}": -1}.get(text[index], 0)
        if depth == 0:
            return text[start:index + 1]
    raise ValueError("unbalanced braces")


def tables(*paths):
    """The constexpr constants and the const tables of the files, by name."""
    names = {}
    for path in ("forms/forms.hpp",) + paths:
        text = source(path)
        for name, value in re.findall(r"constexpr [\w:* ]+? (\w+) =\s*([^;]+);", text):
            names[name] = parse_initialiser(value, names) if value.startswith('"') else resolve(value.strip(), names)
        for match in re.finditer(r"^(?:const|constexpr) [\w<>:]+ (\w+)(?:\[[^\]]*\])*\s*(=\s*)?(?=\{)", text, re.M):
            names[match[1]] = parse_initialiser(braced(text, match.end()), names)
    return names


def statements(path, function):
    """The `//:` statements of a body, in order: (tag, text)."""
    text = source(path)
    start = text.index("\nvoid %s(Call& call" % function)
    body = text[start:text.index("\n}\n", start)]
    return re.findall(r"^ *//: (?:\[([^\]]+)\] )?(.*)$", body, re.M)


# ---------------------------------------------------------------------------------------
# Rendering


def merge(lines, more):
    """Adds `more` to `lines`, {line: text}; a line may hold one statement only."""
    overlap = sorted(set(lines) & set(more))
    if overlap:
        raise ValueError("two statements at line %s: %r and %r" % (overlap[0], lines[overlap[0]], more[overlap[0]]))
    lines.update(more)


def render(body, values, line, indent, lists=None, inner=None):
    """The lines of `body` from `line` on, as {line: text}, and the line after them."""
    lines = {}
    index = 0
    while index < len(body):
        tag, _ = body[index]
        group = []
        while index < len(body) and body[index][0] == tag:
            group.append(body[index][1])
            index += 1
        if tag and tag.startswith("each "):
            items = lists[tag[5:]]
        elif tag:
            items = [{}] if values[tag] else []
        else:
            items = [{}]
        for number, item in enumerate(items):
            fields = dict(values, **item, **{"if": "elif" if number else "if"})
            for text in group:
                merge(lines, {line: " " * indent + text.format(**fields)})
                line += 1
                defined = re.match(r" *def (\w+)\(", text)
                if defined and inner:
                    inner_lines, line = inner[defined[1]](line, indent + len(text) - len(text.lstrip()) + 4)
                    merge(lines, inner_lines)
                    line += 1  # a blank line after the inner function
    return lines, line


def colour(rgb):
    return "(%d, %d, %d)" % tuple(rgb)


def definition(name, signature, indent=0):
    return " " * indent + "def %s(%s):" % (name, ", ".join(signature[2]))


def load_steps():
    text = source("module/load.cpp")
    steps = parse_initialiser(braced(text, text.index("{", text.index("import_steps[]"))), {})
    texts = dict(re.findall(r'X\((\w+), "([^"]*)"\)', source("module/constants.hpp")))
    lines = {}
    for module, imported, _, line in steps:
        module = texts.get(module, module)
        if imported is None:
            lines[line] = lines[line] + ", " + module if line in lines else "import " + module
        else:
            lines[line] = "from %s import %s" % (module, imported)
    line = int(re.search(r"empty_line_line = (\d+);", text)[1])
    lines[line] = 'print("")'
    return lines


def forms():
    names = tables("forms/forms.cpp", "forms/file_dialog.cpp")
    pos_left = names["pos_left"]
    lines = {}
    for value in names["form_rows"]:
        (class_name, class_line, _), (caption_x,), (text_x,), (wildcard,) = value
        browses, at_left = wildcard is not None, pos_left in (caption_x, text_x)
        values = {
            "browses": browses,
            "caption_x": "PosLeft" if caption_x == pos_left else caption_x,
            "text_x": "PosLeft" if text_x == pos_left else text_x,
            "button_x": "PosLeft + LebarForm + 15" if at_left else "LebarForm + 25",
            "wildcard": json.dumps(wildcard),
        }

        def file_dialog(line, indent, values=values):
            return render(statements("forms/file_dialog.cpp", "file_dialog"), values, line, indent)

        init_line = class_line + names["init_offset"]
        merge(lines, {class_line: "class %s:" % class_name,
                      init_line: definition("__init__", names["initialisers"][browses][at_left], 4)})
        body, _ = render(statements("forms/forms.cpp", "form_init"), values, init_line + 1, 8,
                         inner={"filedialog": file_dialog})
        merge(lines, body)
    return lines


def tombol():
    names = tables("widgets/hover_button.cpp")
    class_name, class_line, _ = names["tombol"]
    line = names["btnconfig_line"]
    lines = {class_line: "class %s:" % class_name, line: definition("btnconfig", names["btnconfig_signature"], 4)}
    schemes = []
    for number, background, foreground, enter, leave in (row[:5] for row in names["schemes"]):
        (number,) = number
        handlers = {"OnMouseEnter%d" % number: enter, "OnMouseLeave%d" % number: leave}
        schemes.append({"number": number, "rest_background": colour(background),
                        "rest_foreground": colour(foreground), "enter_name": "OnMouseEnter%d" % number,
                        "leave_name": "OnMouseLeave%d" % number})
        for handler, (handler_line, steps) in handlers.items():
            merge(lines, {handler_line: definition(handler, names["hover_signature"], 4)})
            recolour = [{"method": method, "colour": colour(rgb)} for method, rgb in steps if method is not None]
            merge(lines, render(statements("widgets/hover_button.cpp", "hover"), {}, handler_line + 1, 8,
                                lists={"step": recolour})[0])
    merge(lines, render(statements("widgets/hover_button.cpp", "btnconfig"), {}, line + 1, 8,
                        lists={"scheme": schemes})[0])
    return lines


def function(row, values=None, lists=None):
    """A module-level function from its row: its definition and its body's statements."""
    (name, line, _), signature = row
    lines = {line: definition(name, signature)}
    body = statements("widgets/decorations.cpp", signature[1])
    merge(lines, render(body, values or {}, line + 1, 4, lists)[0])
    return lines


def functions():
    names = tables("widgets/decorations.cpp")
    lines = function(names["showImage"])
    row, (app_id,), kinds = names["icon"]
    kinds = [{"tipe": tipe, "file": json.dumps(file)} for (tipe,), (file,) in kinds]
    merge(lines, function(row, {"app_id": json.dumps(app_id)}, {"kind": kinds}))
    row, (text,) = names["garis"]
    merge(lines, function(row, {"text": json.dumps(text)}))
    return lines


def listing():
    lines = {}
    for part in (load_steps(), forms(), tombol(), functions()):
        merge(lines, part)
    return "".join("%4d  %s\n" % (line, lines[line]) for line in sorted(lines))


def with_listing(document):
    """docs/lines.md with its listing (the one fenced block) made afresh."""
    before, rest = document.split("```\n", 1)
    _, after = rest.split("```\n", 1)
    return before + "```\n" + listing() + "```\n" + after


def main(arguments):
    document = LISTING.read_text()
    made = with_listing(document)
    if arguments == ["--check"]:
        if made != document:
            sys.exit("%s is not what build-aux/lines.py makes: run it" % LISTING.relative_to(ROOT))
        return
    if arguments:
        sys.exit(__doc__)
    LISTING.write_text(made)


if __name__ == "__main__":
    main(sys.argv[1:])
