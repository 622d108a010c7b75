#!/usr/bin/env python3
"""Compares the dump of a simulated machine with the dump of a Wine prefix.

  compare_dumps.py SCOPE SIMDUMP WINEDUMP ACCEPTED SCENARIO PHASE

Both dumps are the canonical dump format.  Only what SCOPE (the same file
winedump reads) covers is compared: the Wine prefix holds a whole Windows
installation, the simulated machine only a template.  Paths are compared
without case (Wine's Windows directory is C:\\windows, a template's
C:\\WINDOWS), and the style flags of message boxes are left out (the
watcher cannot read them back from another process).

  compare_dumps.py --scoped-values SCOPE DUMP
prints the REG_SZ and REG_DWORD values of DUMP inside SCOPE's scope as
"KEY<tab>NAME<tab>TYPE<tab>DATA" lines (to set a prefix up like a machine).

Every remaining difference must match a line of ACCEPTED:
  [PLATFORM] SCENARIO-GLOB | PHASE-GLOB | REGEX | reason
REGEX is searched in "- LINE" (only on the simulated machine) or "+ LINE"
(only under Wine); the first matching line counts.  PLATFORM, optional, is
"win32" (the i386 exe under 32-bit Wine) or "win64" (the 64-bit build under
wine64): the line then applies only there.  Prints "accepted: ..." for the
listed differences and "unlisted: ..." for the others; exits 1 when one is
unlisted, 2 on bad input.
  --platform P    the Wine platform of the run (without it every line applies)
  --record FILE   appends what was compared ("ran P SCENARIO PHASE") and the
                  lines that matched ("used N") to FILE, for --stale

  compare_dumps.py --stale ACCEPTED FILE
reads the records of a whole run and prints "stale: ..." for every line of
ACCEPTED that matched nothing although a comparison it applies to ran (as a
todo_wine that starts passing); exits 1 when there is one.
"""
import fnmatch
import re
import sys

SECTIONS = ["files", "registry", "profiles", "pending", "devices", "journal"]
SORTED = {"files", "registry", "devices"}
FILE_RE = re.compile(r"^(dir|file) +attr=\S+(?: size=\S+ fnv=\S+)? (.*)$")


def read_scope(path, windir, sysdir):
    items = []
    for raw in open(path, encoding="latin-1"):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        verb, _, arg = line.partition(" ")
        arg = arg.strip().replace("%WINDIR%", windir).replace("%SYSDIR%", sysdir)
        items.append((verb, arg.upper()))
    return items


def read_dump(path):
    sections = {name: [] for name in SECTIONS}
    current = None
    with open(path, encoding="latin-1", newline="\n") as f:
        lines = f.read().split("\n")
    if not lines or not lines[0].startswith("winsim-dump "):
        raise ValueError(f"{path}: not a dump")
    for line in lines[1:]:
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            if current not in sections:
                raise ValueError(f"{path}: unknown section {line}")
            continue
        if current is None:
            raise ValueError(f"{path}: line outside a section: {line}")
        sections[current].append(line)
    return sections


def in_files_scope(path, items):
    p = path.upper()
    for verb, arg in items:
        if verb == "tree" and (p == arg or p.startswith(arg + "\\")):
            return True
        if verb == "files":
            folder, _, pattern = arg.rpartition("\\")
            pfolder, _, name = p.rpartition("\\")
            if pfolder == folder and fnmatch.fnmatchcase(name, pattern):
                return True
    return False


def in_key_scope(key, items):
    k = key.upper()
    return any(verb == "key" and (k == arg or k.startswith(arg + "\\")) for verb, arg in items)


def normalise(sections, items):
    out = {}
    files = []
    for line in sections["files"]:
        m = FILE_RE.match(line)
        if not m:
            raise ValueError(f"bad file line: {line}")
        if in_files_scope(m.group(2), items):
            files.append(line[: m.start(2)] + m.group(2).upper())
    out["files"] = files
    registry = []
    for line in sections["registry"]:
        kind, _, rest = line.partition(" ")
        key, sep, tail = rest.partition("\\\\")
        if in_key_scope(key, items):
            registry.append(f"{kind} {key.upper()}{sep}{tail}")
    out["registry"] = registry
    names = {arg.rpartition("\\")[2] for verb, arg in items if verb == "profile"}
    out["profiles"] = [l for l in sections["profiles"] if l.split(" ", 2)[1].upper() in names]
    out["pending"] = [l.upper() for l in sections["pending"]] if any(v == "pending" for v, _ in items) else []
    devices = []
    for line in sections["devices"]:
        node = line.split(" ", 2)[1]
        if in_key_scope("HKLM\\SYSTEM\\CurrentControlSet\\Enum\\" + node, items):
            devices.append(line.upper())
    out["devices"] = devices
    out["journal"] = [re.sub(r" flags=\S+", " flags=*", l) for l in sections["journal"]]
    for name in SORTED:
        out[name].sort()
    return out


def differences(a, b):
    """Lines only in a ("- ") and only in b ("+ "), per section, in order."""
    import difflib
    result = []
    for name in SECTIONS:
        matcher = difflib.SequenceMatcher(a=a[name], b=b[name], autojunk=False)
        for tag, i1, i2, j1, j2 in matcher.get_opcodes():
            if tag == "equal":
                continue
            result += [(name, "- " + l) for l in a[name][i1:i2]]
            result += [(name, "+ " + l) for l in b[name][j1:j2]]
    return result


PLATFORMS = ("win32", "win64")
PLATFORM_RE = re.compile(r"^\[([^\]]*)\] +")


class Rule:
    def __init__(self, number, platform, scenario, phase, regex, reason):
        self.number, self.platform, self.scenario, self.phase = number, platform, scenario, phase
        self.regex, self.reason = regex, reason

    def applies(self, platform, scenario, phase):
        return (not self.platform or not platform or self.platform == platform) \
            and fnmatch.fnmatchcase(scenario, self.scenario) and fnmatch.fnmatchcase(phase, self.phase)


def read_accepted(path):
    rules = []
    for number, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        platform = None
        m = PLATFORM_RE.match(line)
        if m:
            platform = m.group(1)
            if platform not in PLATFORMS:
                raise ValueError(f"{path}:{number}: platform [{platform}]: expected one of {PLATFORMS}")
            line = line[m.end():]
        parts = [p.strip() for p in line.split(" | ", 3)]
        if len(parts) != 4:
            raise ValueError(f"{path}:{number}: expected SCENARIO | PHASE | REGEX | reason, after an optional [PLATFORM]")
        rules.append(Rule(number, platform, parts[0], parts[1], re.compile(parts[2]), parts[3]))
    return rules


def stale(accepted_path, record_path):
    """The rules that matched nothing in comparisons they apply to."""
    rules = read_accepted(accepted_path)
    ran, used = set(), set()
    with open(record_path, encoding="utf-8") as f:
        for raw in f:
            fields = raw.rstrip("\n").split("\t")
            if fields[0] == "ran" and len(fields) == 4:
                ran.add(tuple(fields[1:]))
            elif fields[0] == "used" and len(fields) == 2:
                used.add(int(fields[1]))
            else:
                raise ValueError(f"{record_path}: bad record: {raw.strip()}")
    count = 0
    for rule in rules:
        if rule.number in used:
            continue
        runs = sorted(f"{s} {p}" for platform, s, p in ran if rule.applies(platform, s, p))
        if runs:
            count += 1
            where = f" [{rule.platform}]" if rule.platform else ""
            print(f"stale: {accepted_path}:{rule.number}{where} matched nothing in "
                  f"{len(runs)} comparisons ({', '.join(runs[:3])}{', ...' if len(runs) > 3 else ''}): "
                  f"{rule.reason}")
    return 1 if count else 0


VALUE_RE = re.compile(r'^value (.*?)\\\\("(?:[^"\\]|\\.)*"|@) (REG_SZ|REG_DWORD) (.*)$')


def unquote(text):
    body = text[1:-1]
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3 else m.group(1), body)


def scoped_values(scope, dump):
    items = read_scope(scope, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32")
    for line in read_dump(dump)["registry"]:
        m = VALUE_RE.match(line)
        if not m or not in_key_scope(m.group(1), items):
            continue
        key, name, kind, data = m.groups()
        name = "" if name == "@" else unquote(name)
        if kind == "REG_SZ":
            if not data.startswith('"') or data.endswith(" unterminated"):
                continue
            data = unquote(data)
        else:
            data = str(int(data, 16))
        if "\t" in name + data or "\n" in name + data:
            continue
        print(f"{key}\t{name}\t{kind}\t{data}")
    return 0


def main(argv):
    if len(argv) == 4 and argv[1] == "--scoped-values":
        try:
            return scoped_values(argv[2], argv[3])
        except (OSError, ValueError) as e:
            print(f"compare_dumps: {e}", file=sys.stderr)
            return 2
    if len(argv) == 4 and argv[1] == "--stale":
        try:
            return stale(argv[2], argv[3])
        except (OSError, ValueError, re.error) as e:
            print(f"compare_dumps: {e}", file=sys.stderr)
            return 2
    args, options = [], {"--platform": "", "--record": ""}
    rest = argv[1:]
    while rest:
        if rest[0] in options and len(rest) > 1:
            options[rest[0]] = rest[1]
            rest = rest[2:]
        else:
            args.append(rest.pop(0))
    if len(args) != 6 or (options["--platform"] and options["--platform"] not in PLATFORMS):
        print(__doc__, file=sys.stderr)
        return 2
    scope, sim_path, wine_path, accepted_path, scenario, phase = args
    platform = options["--platform"]
    try:
        sim = read_dump(sim_path)
        wine = read_dump(wine_path)
        rules = read_accepted(accepted_path)
        # The simulated machine is set up with the directories Wine reports.
        items = read_scope(scope, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32")
        diffs = differences(normalise(sim, items), normalise(wine, items))
    except (OSError, ValueError, re.error) as e:
        print(f"compare_dumps: {e}", file=sys.stderr)
        return 2
    unlisted = 0
    used = []
    for section, line in diffs:
        rule = next((r for r in rules if r.applies(platform, scenario, phase) and r.regex.search(line)),
                    None)
        if rule is None:
            unlisted += 1
            print(f"unlisted: {scenario} {phase} [{section}] {line}")
        else:
            used.append(rule.number)
            print(f"accepted: {scenario} {phase} [{section}] {line}  ({rule.reason})")
    if options["--record"]:
        with open(options["--record"], "a", encoding="utf-8") as f:
            f.write(f"ran\t{platform}\t{scenario}\t{phase}\n")
            f.writelines(f"used\t{n}\n" for n in sorted(set(used)))
    return 1 if unlisted else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
