#!/usr/bin/env python3
"""check-manifest.py - checks the application manifest of the built saver.

    windres -i SAVER.scr -O rc | check-manifest.py

Reads windres's text form of the program's resources on standard input, takes
the manifest (resource 1 of type 24) out of its string literals, parses it as
XML and checks what Windows reads from it: run as invoker, the common
controls version 6 for the dialog, per-monitor DPI awareness (version 2 with
version 1 as the fall-back, and the older dpiAware form), and the systems from
Vista to Windows 10 and 11. Prints one FAIL line for each missing entry;
exit code 1 when there is one.
"""
import re
import sys
import xml.etree.ElementTree as ElementTree

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"

SUPPORTED_OS = {
    "e2011457-1546-43c5-a5fe-008deee3d3f0": "Windows Vista",
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a": "Windows 7",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38": "Windows 8",
    "1f676c76-80e1-4239-95bb-83d0f6d0da78": "Windows 8.1",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a": "Windows 10 and 11",
}

COMMON_CONTROLS = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "processorArchitecture": "*",
    "publicKeyToken": "6595b64144ccf1df",
    "language": "*",
}


def unescape(literal):
    """The text of one windres string literal's inside ("" is a quote)."""
    out = []
    i = 0
    while i < len(literal):
        c = literal[i]
        if c == '"':  # the second quote of a doubled pair
            out.append('"')
            i += 2
        elif c == "\\" and i + 1 < len(literal):
            nxt = literal[i + 1]
            octal = re.match(r"[0-7]{1,3}", literal[i + 1:])
            if octal:
                out.append(chr(int(octal.group(0), 8)))
                i += 1 + len(octal.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(nxt, nxt))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def manifest_text(resources):
    """The manifest resource's text, or None."""
    match = re.search(r"^1 24\b.*?^BEGIN\n(.*?)^END", resources, re.M | re.S)
    if not match:
        return None
    literals = re.findall(r'"((?:[^"]|"")*)"', match.group(1))
    return "".join(unescape(literal) for literal in literals)


def check(root):
    """Yields one message for each thing that is missing or wrong."""
    q = lambda ns, tag: "{%s}%s" % (ns, tag)
    if root.tag != q(ASM_V1, "assembly") or root.get("manifestVersion") != "1.0":
        yield "the root is not an assembly of manifest version 1.0"

    level = root.find(".//" + q(ASM_V3, "requestedExecutionLevel"))
    if level is None or level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
        yield "does not run as invoker without UI access"

    identities = root.findall("%s/%s/%s" % (q(ASM_V1, "dependency"),
                                            q(ASM_V1, "dependentAssembly"),
                                            q(ASM_V1, "assemblyIdentity")))
    if not any(all(identity.get(k) == v for k, v in COMMON_CONTROLS.items())
               for identity in identities):
        yield "no dependency on the common controls version 6 (%s)" % COMMON_CONTROLS

    settings = root.find("%s/%s" % (q(ASM_V3, "application"), q(ASM_V3, "windowsSettings")))
    if settings is None:
        yield "no windowsSettings in an asm.v3 application element"
    else:
        aware = settings.find(q(SETTINGS_2005, "dpiAware"))
        if aware is None or (aware.text or "").strip() != "true/pm":
            yield "dpiAware (2005 settings) is not true/pm"
        awareness = settings.find(q(SETTINGS_2016, "dpiAwareness"))
        if awareness is None or (awareness.text or "").strip() != "PerMonitorV2,PerMonitor":
            yield "dpiAwareness (2016 settings) is not PerMonitorV2,PerMonitor"

    ids = {os.get("Id", "").strip("{}").lower()
           for os in root.iter(q(COMPATIBILITY, "supportedOS"))}
    for guid, name in SUPPORTED_OS.items():
        if guid not in ids:
            yield "no supportedOS entry for %s {%s}" % (name, guid)


def main():
    text = manifest_text(sys.stdin.read())
    if text is None:
        print("FAIL  no manifest resource (1, type 24)")
        return 1
    try:
        root = ElementTree.fromstring(text.encode("utf-8"))
    except ElementTree.ParseError as error:
        print("FAIL  the manifest is not well-formed XML: %s" % error)
        return 1
    problems = list(check(root))
    for problem in problems:
        print("FAIL  manifest: %s" % problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
