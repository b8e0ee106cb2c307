#!/usr/bin/env python3
"""Fails when a library imports a host symbol that the platform does not publish.

The platform links the module against its own host libraries, which offer only the published
interface (host/include/published-interface.txt); an import from outside it would stop the module
from loading there although every test here passes. The imports come from the library's dynamic
symbol table (nm -D) or, for a Windows DLL, from its import table (objdump -p). The C and C++
runtime is left out; every import from a host library must be listed under that library, and
the library may need no other library than the host's and the runtime's.

  ModuleImportsTest.py --list FILE --library LIB --host utilities=LIB --host geometry=LIB ...
                       [--nm NM] [--elf-objdump OBJDUMP] [--objdump OBJDUMP] [--cxxfilt CXXFILT]

With --objdump the library is a DLL and the host libraries are named by their DLL file names.
"""

import argparse
import os
import re
import subprocess
import sys

# The C and C++ runtime of Linux, the sanitizers' included.
RUNTIME_LIBRARIES = re.compile(
    r"^(libc|libm|libdl|librt|libpthread|libstdc\+\+|libc\+\+|libc\+\+abi|libgcc_s"
    r"|lib(a|ub|t|l)san|ld-linux(-x86-64)?)$")
# DLLs of Windows itself and of the MinGW runtime.
RUNTIME_DLLS = re.compile(
    r"^(kernel32|msvcrt|ucrtbase|user32|shell32|advapi32|ws2_32|ntdll|api-ms-win-[\w-]+"
    r"|libstdc\+\+-6|libgcc_s_seh-1|libwinpthread-1)\.dll$", re.IGNORECASE)


def normalize(name):
    """One spelling for a demangled name on every target: the standard strings and vectors by
    their short names, no ABI tags, and LLP64's long long read as LP64's long."""
    name = name.replace("[abi:cxx11]", "")
    name = name.replace("std::__cxx11::", "std::")
    for char, short in (("char", "std::string"), ("wchar_t", "std::wstring")):
        name = name.replace(
            f"std::basic_string<{char}, std::char_traits<{char}>, std::allocator<{char}> >",
            short)
    name = name.replace("std::basic_string_view<char, std::char_traits<char> >",
                        "std::string_view")
    # std::vector<T, std::allocator<T> > -> std::vector<T>, innermost first.
    vector = re.compile(r"std::vector<([^<>]*(?:<[^<>]*(?:<[^<>]*>)?[^<>]*>)?[^<>]*), "
                        r"std::allocator<\1 ?> >")
    while True:
        shorter = vector.sub(lambda m: f"std::vector<{m.group(1)}>", name)
        if shorter == name:
            break
        name = shorter
    name = name.replace("unsigned long long", "unsigned long").replace("long long", "long")
    return name


def read_list(path):
    """The published names by library section."""
    published = {}
    section = None
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            line = "" if line.lstrip().startswith("#") else line.strip()
            if not line:
                continue
            match = re.fullmatch(r"\[(\w+)\]", line)
            if match:
                section = match.group(1)
                published.setdefault(section, set())
            elif section is None:
                sys.exit(f"{path}:{number}: an entry before the first [library] section")
            else:
                published[section].add(normalize(line))
    return published


def demangle(names, cxxfilt):
    if not names:
        return []
    result = subprocess.run([cxxfilt], input="\n".join(names) + "\n", capture_output=True,
                            text=True, check=True)
    return result.stdout.splitlines()


def elf_imports(library, hosts, nm, objdump):
    """(host section, mangled name) for each import that a host library defines, and the needed
    libraries that are neither the host nor the runtime."""
    def symbols(path, *options):
        out = subprocess.run([nm, "-D", *options, path], capture_output=True, text=True,
                             check=True).stdout
        return [line.split() for line in out.splitlines() if line.strip()]

    defined = {}
    for section, path in hosts.items():
        for fields in symbols(path, "--defined-only"):
            defined.setdefault(fields[-1].split("@")[0], section)
    imports = []
    for fields in symbols(library, "--undefined-only"):
        name = fields[-1].split("@")[0]
        if name in defined:
            imports.append((defined[name], name))
    host_names = {os.path.basename(path).split(".so")[0] for path in hosts.values()}
    out = subprocess.run([objdump, "-p", library], capture_output=True, text=True,
                         check=True).stdout
    unexplained = []
    for needed in re.findall(r"^\s*NEEDED\s+(\S+)", out, re.MULTILINE):
        stem = needed.split(".so")[0]
        if stem not in host_names and not RUNTIME_LIBRARIES.match(stem):
            unexplained.append(f"the library {needed}")
    return imports, unexplained


def dll_imports(library, hosts, objdump):
    """As elf_imports, from the import table of a DLL: one "DLL Name:" block per DLL, one line
    per import (address, hint, name), a blank line after the block."""
    sections = {os.path.basename(path).lower(): section for section, path in hosts.items()}
    out = subprocess.run([objdump, "-p", library], capture_output=True, text=True,
                         check=True).stdout
    imports, unexplained = [], []
    dll = None
    for line in out.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1)
            continue
        if not line.strip():
            dll = None
            continue
        match = re.fullmatch(r"\s+[0-9a-fA-F]+\s+\d+\s+(\S+)\s*", line)
        if dll is None or not match:
            continue
        name = match.group(1)
        if dll.lower() in sections:
            imports.append((sections[dll.lower()], name))
        elif not RUNTIME_DLLS.match(dll):
            unexplained.append(f"{name} (from {dll})")
    return imports, unexplained


def is_rtti_of_published(name, published):
    """Type information and virtual tables of a published class are published with it: derived
    classes refer to them, and so do sanitizer checks of dynamic types."""
    match = re.fullmatch(r"(?:typeinfo|typeinfo name|vtable) for (.+)", name)
    return bool(match) and any(entry.startswith(match.group(1) + "::") for entry in published)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--host", action="append", default=[], metavar="SECTION=LIBRARY")
    parser.add_argument("--nm", default="nm")
    parser.add_argument("--objdump", help="the DLL's objdump; the library is then a DLL")
    parser.add_argument("--elf-objdump", default="objdump")
    parser.add_argument("--cxxfilt", default="c++filt")
    args = parser.parse_args()

    hosts = dict(entry.split("=", 1) for entry in args.host)
    published = read_list(args.list)
    if args.objdump:
        imports, unexplained = dll_imports(args.library, hosts, args.objdump)
    else:
        imports, unexplained = elf_imports(args.library, hosts, args.nm, args.elf_objdump)

    names = demangle([name for _, name in imports], args.cxxfilt)
    by_section = {}
    for (section, _), name in zip(imports, names):
        by_section.setdefault(section, set()).add(normalize(name))

    library = os.path.basename(args.library)
    failures = []
    for section in sorted(by_section):
        missing = sorted(name for name in by_section[section] - published.get(section, set())
                         if not is_rtti_of_published(name, published.get(section, set())))
        failures += [f"  {section}: {name}" for name in missing]
        print(f"{library} imports {len(by_section[section])} symbols from the host's {section}")
    failures += [f"  neither host nor runtime: {name}" for name in sorted(unexplained)]
    if failures:
        print(f"{library} imports {len(failures)} symbols that the platform does not publish "
              f"(see {os.path.basename(args.list)}):")
        print("\n".join(failures))
        return 1
    print(f"{library}: every host import is published")
    return 0


if __name__ == "__main__":
    sys.exit(main())
