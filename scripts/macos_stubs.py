"""The frameworks scripts/macos-check links the macOS application against, as text-based stubs.

A Mach-O link needs only the names a library exports, so the application links against stubs
(.tbd) that list them. Qt's come from this machine's Qt 6 libraries. Most of Qt's Itanium C++
names are the same on Linux and macOS, but not those whose signature holds a standard library
type: Linux's Qt is built against libstdc++, the macOS one against libc++, which keeps everything
in the inline namespace std::__1 and has its own spelling of some types (std::chrono's
nanoseconds counts in long long there, in long here). For those the stub holds the name the
macOS objects reference, and only when a Linux export means the same function once both
libraries' spellings are written alike (LIBSTDCXX_SPELLINGS, LIBCXX_SPELLINGS): a call with a
signature Qt does not export still fails to link. Linux's own spellings of such names are left
out, since macOS's Qt does not export them.

CoreFoundation's stub comes from the declaration header the compile uses; the Objective-C
runtime's and two frameworks' from the few names the code reaches.
"""

import glob
import os
import re
import shutil
import subprocess

QT_FRAMEWORKS = {"QtCore": "libQt6Core.so.6", "QtGui": "libQt6Gui.so.6",
                 "QtWidgets": "libQt6Widgets.so.6"}
# What only the macOS Qt exports (Qt's headers declare it under Q_OS_DARWIN) and the code calls.
QT_MACOS_ONLY = {"QtCore": ["__ZN7QString12fromCFStringEPK10__CFString",
                            "__ZNK7QString10toCFStringEv"]}
STUB_TARGETS = "[ x86_64-macos, arm64-macos ]"
OBJC_LIBRARIES = [
    ("libobjc", "/usr/lib/libobjc.A.dylib",
     ["_objc_msgSend", "_objc_getClass", "_sel_registerName", "_objc_allocateClassPair",
      "_class_addMethod", "_objc_registerClassPair"]),
    ("Foundation", "/System/Library/Frameworks/Foundation.framework/Versions/C/Foundation",
     ["_NSLog"]),
    ("UserNotifications",
     "/System/Library/Frameworks/UserNotifications.framework/Versions/A/UserNotifications",
     ["_UNErrorDomain"]),
]

# Demangled libstdc++ spellings, and what they are written as to compare with libc++'s: its
# internal namespaces, its ABI tag, the Itanium abbreviations, and int64_t (long here, long long
# on macOS) as the count of std::chrono's durations.
LIBSTDCXX_SPELLINGS = [
    (re.compile(r"std::__cxx11::"), "std::"),
    (re.compile(r"std::__exception_ptr::"), "std::"),
    (re.compile(r"std::chrono::_V2::"), "std::chrono::"),
    (re.compile(r"\[abi:cxx11\]"), ""),
    (re.compile(r"\bstd::string\b"),
     "std::basic_string<char, std::char_traits<char>, std::allocator<char> >"),
    (re.compile(r"\bstd::(i|o|io)stream\b"), r"std::basic_\1stream<char, std::char_traits<char> >"),
    (re.compile(r"\bstd::chrono::duration<long, "), "std::chrono::duration<long long, "),
]
# libc++'s: its inline namespace.
LIBCXX_SPELLINGS = [(re.compile(r"std::__1::"), "std::")]
# What Qt's library holds of the standard library itself (template code it instantiated): the
# macOS objects get theirs from libc++.
STANDARD_LIBRARY_CODE = re.compile(r"((typeinfo( name)?|vtable|guard variable) for |[\w:]+ )?std::")


def tool(name):
    found = shutil.which(name) or next(iter(sorted(glob.glob(f"/usr/bin/{name}-*"))[-1:]), None)
    if not found:
        raise RuntimeError(f"{name} not found (Debian package llvm)")
    return found


def demangle(names):
    """Each Itanium name (given without its leading underscore) demangled; others as they are."""
    if not names:
        return []
    r = subprocess.run(["c++filt"], input="\n".join(names), stdout=subprocess.PIPE, text=True,
                       check=True)
    out = r.stdout.splitlines()
    if len(out) != len(names):
        raise RuntimeError("c++filt returned a different number of names")
    return out


def respelled(text, spellings):
    for pattern, replacement in spellings:
        text = pattern.sub(replacement, text)
    return text


def write_tbd(path, install_name, symbols):
    with open(path + ".new", "w", encoding="utf-8") as f:
        f.write("--- !tapi-tbd\ntbd-version: 4\ntargets: " + STUB_TARGETS + "\n")
        f.write(f"install-name: '{install_name}'\n")
        f.write("exports:\n  - targets: " + STUB_TARGETS + "\n    symbols: [ ")
        f.write(", ".join(f"'{name}'" for name in sorted(symbols)))
        f.write(" ]\n...\n")
    os.replace(path + ".new", path)


def qt_library(name):
    for pattern in ("/usr/lib/*/" + name, "/usr/lib/" + name, "/usr/lib64/" + name):
        found = sorted(glob.glob(pattern))
        if found:
            return found[0]
    raise RuntimeError(name + " not found (qt6-base-dev)")


def linux_exports(library):
    out = subprocess.run(["nm", "-D", "--defined-only", qt_library(library)],
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    return sorted({line.split()[2].split("@")[0] for line in out.splitlines()
                   if len(line.split()) >= 3})


def referenced(objects):
    """The names the objects leave undefined, as Mach-O spells them (with a leading underscore)."""
    nm = tool("llvm-nm")
    names = set()
    for i in range(0, len(objects), 200):
        out = subprocess.run([nm, "--undefined-only", "--just-symbol-name"] + objects[i:i + 200],
                             stdout=subprocess.PIPE, text=True, check=True).stdout
        names.update(line.strip() for line in out.splitlines()
                     if line.strip() and not line.endswith(":"))
    return sorted(names)


def qt_symbols(objects):
    """Framework -> the names its macOS stub exports."""
    symbols, with_std = {}, {}
    for framework, library in QT_FRAMEWORKS.items():
        names = linux_exports(library)
        plain = set(QT_MACOS_ONLY.get(framework, []))
        for name, text in zip(names, demangle(names)):
            if "std::" not in text:
                plain.add("_" + name)
            elif not STANDARD_LIBRARY_CODE.match(text):
                with_std[respelled(text, LIBSTDCXX_SPELLINGS)] = framework
        symbols[framework] = plain
    wanted = [name for name in referenced(objects) if name.startswith("__Z")]
    for name, text in zip(wanted, demangle([name[1:] for name in wanted])):
        framework = with_std.get(respelled(text, LIBCXX_SPELLINGS))
        if framework:
            symbols[framework].add(name)
    return symbols


def stub_corefoundation(work):
    """Writes the CoreFoundation stub (what its declaration header names) into work/stubs."""
    stubs = os.path.join(work, "stubs")
    os.makedirs(stubs, exist_ok=True)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    header = open(os.path.join(root, "tests/macos/cf/CoreFoundation/CoreFoundation.h"),
                  encoding="utf-8").read()
    cf = set(re.findall(r"^\w[\w \t\*]*?\b(CF\w+)\(", header, re.M))
    cf.update(re.findall(r"^extern const \w+ (k\w+);", header, re.M))
    path = os.path.join(stubs, "CoreFoundation.tbd")
    write_tbd(path, "/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation",
              {"_" + name for name in cf})
    return path


def stub_frameworks(work, objects):
    """Writes the stubs for linking the objects into work/stubs; returns their paths."""
    stubs = os.path.join(work, "stubs")
    os.makedirs(stubs, exist_ok=True)
    paths = []
    for framework, symbols in qt_symbols(objects).items():
        path = os.path.join(stubs, framework + ".tbd")
        write_tbd(path, f"@rpath/{framework}.framework/Versions/A/{framework}", symbols)
        paths.append(path)
    paths.append(stub_corefoundation(work))
    # The Objective-C runtime, and the frameworks whose classes the notifications reach through it
    # by name: nothing is imported from those, they only have to be loaded.
    for name, install_name, symbols in OBJC_LIBRARIES:
        path = os.path.join(stubs, name + ".tbd")
        write_tbd(path, install_name, symbols)
        paths.append(path)
    return paths


def undefined_symbols(link_output):
    """'name (referenced by object)' for each undefined symbol a failed link names, demangled."""
    found = []
    for line in link_output.splitlines():
        m = re.search(r"undefined symbol: (\S+)", line)
        if m:
            found.append([m.group(1), ""])
            continue
        m = re.search(r"referenced by ([^:]+)", line)
        if m and found and not found[-1][1]:
            found[-1][1] = os.path.basename(m.group(1))
    names = [name[1:] if name.startswith("__Z") else name for name, _ in found]
    names = demangle(names)
    return [f"{name} (referenced by {obj})" if obj else name
            for name, (_, obj) in zip(names, found)]
