#!/usr/bin/env python3
"""Generates a class's automation table from its C++ declaration.

The public members of the class in the header are the members of the
automation class: their names, parameter names, types, by-reference flags and
optional defaults are read from the declarations, so each default is written
once, in the header. The class body may include files of member declarations
(`#include "korvex/<header>/<family>.inc"` on a line of its own): they are read
in place, as the compiler reads them. `get_X` and `put_X` are the read and
write halves of the property X, which share one dispatch id. Declarations
after a line "// --- Host side" are C++ only. Dispatch ids come from a list of
"Name 0xID" lines kept beside the generator; a member without an id, or an id
given twice, stops the build.

A second automation class can be generated from the same C++ class under
its own name and dispatch ids (AS_NAME, DISPIDS its own list): BASE_DISPIDS
is the list of the class it shares members with, and a member whose id
there equals its id here stops the build too.

usage: gen_typelib.py HEADER CLASS DISPIDS OUTPUT [AS_NAME BASE_DISPIDS] [--depfile DEPFILE]

DEPFILE, when given, lists the header and the files it includes for the build
tool, so that editing a family file regenerates the table.
"""
import os
import re
import sys

TYPES = {
    "uint8_t": ("Byte", False), "uint8_t&": ("Byte", True), "int32_t": ("Long", False), "int16_t": ("Integer", False), "float": ("Single", False),
    "double": ("Double", False), "bool": ("Boolean", False),
    "const std::string&": ("String", False), "std::string": ("String", False),
    "int32_t&": ("Long", True), "int16_t&": ("Integer", True), "bool&": ("Boolean", True),
    "float&": ("Single", True), "double&": ("Double", True), "std::string&": ("String", True),
    "Array<uint8_t>&": ("ByteArray", True), "Array<int32_t>&": ("LongArray", True),
    "const std::shared_ptr<Stream>&": ("Object", False), "std::shared_ptr<Stream>&": ("Object", True),
    "const host::PicturePtr&": ("Object", False), "host::PicturePtr&": ("Object", True),
}
RESULTS = {"cKorvexStatus": "Status", "ViewerStatus": "ViewerStatus", "void": "Void", "int32_t": "Long", "int16_t": "Integer",
           "float": "Single", "double": "Double", "bool": "Boolean", "std::string": "String",
           "host::PicturePtr": "Object"}
# C++ type a default value is converted to before it becomes a Variant.
DEFAULT_TYPES = {"Byte": "uint8_t", "Long": "int32_t", "Integer": "int16_t", "Single": "float", "Double": "double",
                 "Boolean": "bool", "String": "std::string"}


def fail(message):
    sys.stderr.write("gen_typelib: " + message + "\n")
    sys.exit(1)


FAMILY_INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"(korvex/[\w/]+\.inc)"[ \t]*$', re.M)


def expand(header):
    """The header's text with each family file it includes in its place, and
    the files read. A file that is missing or included twice stops the build."""
    root = os.path.dirname(os.path.dirname(os.path.abspath(header)))  # the include folder
    read = []

    def insert(match):
        path = os.path.join(root, match.group(1))
        if path in read:
            fail("%s is included twice" % match.group(1))
        if not os.path.isfile(path):
            fail("%s includes %s, which does not exist" % (header, match.group(1)))
        read.append(path)
        return open(path, encoding="utf-8").read().rstrip("\n")

    return FAMILY_INCLUDE.sub(insert, open(header, encoding="utf-8").read()), read


def class_body(text, name):
    start = text.find("class " + name + " {")
    if start < 0:
        fail("class %s not found" % name)
    body = text[start:]
    ends = [e for e in (body.find("\n private:"), body.find("// --- Host side")) if e >= 0]
    return body[:min(ends) if ends else len(body)]


def split_top(s, sep=","):
    parts, depth, cur = [], 0, ""
    for ch in s:
        if ch in "(<[{":
            depth += 1
        elif ch in ")>]}":
            depth -= 1
        if ch == sep and depth == 0:
            parts.append(cur)
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur)
    return [p.strip() for p in parts]


def members(body, cls):
    body = re.sub(r"//[^\n]*", "", body)
    public = False
    out = []
    for decl in body.split(";"):
        decl = " ".join(decl.split())
        if "public:" in decl:
            public = True
            decl = decl.split("public:")[-1].strip()
        if not public or "(" not in decl or decl.startswith("struct ") or "operator" in decl:
            continue
        m = re.match(r"^(.*?)\b(\w+)\((.*)\)\s*(const)?$", decl)
        if not m or m.group(2) in (cls, "~" + cls) or m.group(1).strip() == "":
            continue
        if decl.endswith("= delete") or decl.endswith("= default"):
            continue
        out.append((m.group(1).strip(), m.group(2), m.group(3).strip()))
    return out


def param(text, member):
    default = None
    if "=" in text:
        text, default = [t.strip() for t in text.split("=", 1)]
    m = re.match(r"^(.*?)\s*(\w+)$", text)
    if not m:
        fail("cannot read parameter %r of %s" % (text, member))
    ctype = m.group(1).replace(" &", "&").strip()
    if ctype not in TYPES:
        fail("parameter type %r of %s is not an automation type" % (ctype, member))
    vtype, byref = TYPES[ctype]
    return m.group(2), vtype, byref, default


def read_ids(dispid_file):
    ids = {}
    for line in open(dispid_file, encoding="utf-8"):
        line = line.split("#")[0].strip()
        if not line:
            continue
        name, value = line.split()
        if name in ids:
            fail("dispatch id of %s given twice in %s" % (name, dispid_file))
        ids[name] = int(value, 0)
    if len(set(ids.values())) != len(ids):
        fail("two members share a dispatch id in %s" % dispid_file)
    return ids


def main():
    args = sys.argv[1:]
    depfile = None
    if "--depfile" in args:
        at = args.index("--depfile")
        if at + 1 >= len(args):
            fail("--depfile needs a file name")
        depfile = args[at + 1]
        del args[at:at + 2]
    if len(args) not in (4, 6):
        fail("usage: gen_typelib.py HEADER CLASS DISPIDS OUTPUT [AS_NAME BASE_DISPIDS] [--depfile DEPFILE]")
    header, cls, dispid_file, output = args[:4]
    as_name = args[4] if len(args) == 6 else cls
    base_ids = read_ids(args[5]) if len(args) == 6 else {}
    text, included = expand(header)
    ids = read_ids(dispid_file)
    same = sorted(n for n in ids if base_ids.get(n) == ids[n])
    if same:
        fail("%s keeps the dispatch id of %s for: %s" % (dispid_file, args[5], ", ".join(same)))
    rows = []
    seen = set()
    for result, name, params in members(class_body(text, cls), cls):
        if result not in RESULTS:
            fail("result type %r of %s is not an automation type" % (result, name))
        kind = "Method"
        if name.startswith("get_") or name.startswith("put_"):
            kind = "PropertyGet" if name.startswith("get_") else "PropertyLet"
            cxx_name, name = name, name[4:]
        else:
            cxx_name = name
        if (name, kind) in seen:
            fail("%s is declared twice: automation members need unique names" % name)
        seen.add((name, kind))
        if name not in ids:
            fail("%s has no dispatch id in %s" % (name, dispid_file))
        plist = []
        for p in split_top(params) if params else []:
            pname, vtype, byref, default = param(p, name)
            if default is None:
                dflt = "std::nullopt"
            elif vtype == "String":
                dflt = "Variant(std::string(%s))" % default
            else:
                dflt = "Variant(static_cast<%s>(%s))" % (DEFAULT_TYPES[vtype], default)
            plist.append('{"%s", VarType::%s, %s, %s}' % (pname, vtype, "true" if byref else "false", dflt))
        rows.append('      {"%s", 0x%08X, MemberKind::%s, {%s}, VarType::%s, &Binder<&%s::%s>::invoke},'
                    % (name, ids[name], kind, ", ".join(plist), RESULTS[result], cls, cxx_name))
    unused = sorted(set(ids) - {name for name, _ in seen})
    if unused:
        fail("dispatch ids of members that do not exist: " + ", ".join(unused))
    with open(output, "w", encoding="utf-8") as f:
        f.write("// Generated by gen_typelib.py from %s: do not edit.\n" % header.split("/include/")[-1])
        f.write('#include "automation/binder.h"\n#include "automation/typelib.h"\n#include "korvex/%s"\n\n'
                % header.split("/include/korvex/")[-1])
        f.write("namespace korvex::automation {\n\n")
        f.write("std::vector<Member> %sMembers() {\n  return {\n" % as_name)
        f.write("\n".join(rows))
        f.write("\n  };\n}\n\n}  // namespace korvex::automation\n")
    if depfile:
        with open(depfile, "w", encoding="utf-8") as f:
            deps = [os.path.abspath(p).replace(" ", "\\ ") for p in [header] + included]
            f.write("%s: %s\n" % (output.replace(" ", "\\ "), " \\\n  ".join(deps)))


main()
