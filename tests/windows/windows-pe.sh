# The portable zip as Windows reads it: a 64-bit GUI program with its icon group, the event
# source's message table and manifest, and exactly the DLLs that it and its plug-ins import, besides Windows' own;
# the licence texts and notices beside them, and the sources file those name.
#   bash windows-pe.sh SOURCE_DIR VERSION
set -euo pipefail
zip="$1/dist/halcyon-$2-win64.zip"
[ -f "$zip" ] || { echo "SKIP: no $zip: build it with tools/windows/package.sh" >&2; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
[ -f "$1/dist/halcyon-$2-win64-sources.tar" ] || { echo "FAIL: the zip came without halcyon-$2-win64-sources.tar"; exit 1; }
/usr/bin/python3 - "$work/halcyon-$2-win64" "$1/tools/windows/system-dlls.txt" "$1/dist/halcyon-$2-win64-sources.tar" <<'PY'
import hashlib, os, re, struct, sys, tarfile, pefile
app, system_list, sources = sys.argv[1:]
failures = []
def check(ok, what):
    ok or failures.append(what)

exe = pefile.PE(os.path.join(app, "halcyon.exe"))
check(exe.FILE_HEADER.Machine == 0x8664 and exe.OPTIONAL_HEADER.Subsystem == 2, "halcyon.exe is no x86-64 GUI program")
# (type, name or id) -> (language, bytes)
res = {(t.id, str(i.name) if i.name else i.id): (l.id, exe.get_data(l.data.struct.OffsetToData, l.data.struct.Size))
       for t in exe.DIRECTORY_ENTRY_RESOURCE.entries for i in t.directory.entries for l in i.directory.entries}
check(sorted({t for t, _ in res}) == [3, 11, 14, 24], f"resource types {sorted({t for t, _ in res})}, want icon, message table, group, manifest")
check({lang for lang, _ in res.values()} == {0x409}, "a resource is not English (United States)")
check(int.from_bytes(res.get((14, "IDI_ICON1"), (0, b"\0" * 6))[1][4:6], "little") == 8, "no icon group IDI_ICON1 of 8 images")
# The event source's messages 100 to 113, each showing the program's text: "%1".
table = res.get((11, 1), (0, b"\0" * 4))[1]
blocks = [struct.unpack_from("<III", table, 4 + 12 * i) for i in range(struct.unpack_from("<I", table)[0])]
texts = {}
for low, high, at in blocks:
    for number in range(low, high + 1):
        length, flags = struct.unpack_from("<HH", table, at)
        texts[number] = table[at + 4:at + length].decode("utf-16-le" if flags & 1 else "latin-1").rstrip("\0").rstrip()
        at += length
check(texts == {n: "%1" for n in range(100, 114)}, f"message table {texts}, want 100..113 as %1")
manifest = res.get((24, 1), (0, b""))[1]
check(b'level="asInvoker"' in manifest and b'uiAccess="false"' in manifest, "manifest 1 does not ask for asInvoker")
check(b"<ws2:longPathAware>true</ws2:longPathAware>" in manifest, "manifest 1 does not declare longPathAware")

system = {l.split("#")[0].strip().lower() for l in open(system_list)} - {""}
# Windows file names are case-insensitive: lower-case name -> path.
files = {os.path.relpath(os.path.join(d, f), app).lower(): os.path.join(d, f) for d, _, fs in os.walk(app)
         for f in fs if f.lower().endswith((".exe", ".dll"))}
plugins = {"platforms/qwindows.dll", "imageformats/qjpeg.dll", "styles/qwindowsvistastyle.dll"}
check(plugins <= files.keys(), f"plug-ins missing: {plugins - files.keys()}")
imported = set()
for f, path in files.items():
    for entry in getattr(pefile.PE(path), "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode().lower()
        imported.add(name)
        check(name in files or name in system or name.startswith("api-ms-win-"), f"{f} imports {name}, not shipped")
extra = files.keys() - imported - plugins - {"halcyon.exe"}
check(not extra, f"shipped but imported by nothing: {sorted(extra)}")

# Each licence text (a phrase of it), the notices naming every DLL and each source package
# of the sources file, and that file holding what each package's .dsc lists.
texts = {"halcyon/LICENSE.txt": "Halcyon maintainers", "qtbase/LICENSE.LGPL3.txt": "GNU LESSER GENERAL PUBLIC LICENSE",
         "qtbase/LICENSE.GPL3.txt": "Version 3, 29 June 2007", "qtbase/copyright.txt": "Qt", "quazip/COPYING.txt": "static linking",
         "zlib/README.txt": "Jean-loup Gailly", "libdeflate/COPYING.txt": "Eric Biggers",
         "libdeflate/copyright.txt": "Expat", "gcc-runtime/copyright.txt": "GCC RUNTIME LIBRARY EXCEPTION",
         "gcc-runtime/GPL-3.txt": "Version 3, 29 June 2007", "winpthreads/copyright.txt": "winpthreads"}
for f, phrase in texts.items():
    path = os.path.join(app, "licenses", f)
    check(os.path.isfile(path) and phrase in open(path, errors="replace").read(), f"licenses/{f} missing or lacks '{phrase}'")
path = os.path.join(app, "THIRD-PARTY-NOTICES.txt")
notices = open(path).read() if os.path.isfile(path) else ""
check(os.path.basename(sources) in notices, "THIRD-PARTY-NOTICES.txt missing or does not name the sources file")
for f in files.keys() - {"halcyon.exe"}:
    check(os.path.basename(f) in notices.lower(), f"THIRD-PARTY-NOTICES.txt does not name {f}")
with tarfile.open(sources) as tar:
    members = {m.name.split("/", 1)[-1]: m for m in tar.getmembers() if m.isfile()}
    dscs = [n for n in members if n.endswith(".dsc")]
    check(len(dscs) == 4, f"source packages in the sources file: {dscs}, want zlib, qtbase, QuaZip and libdeflate")
    for n in dscs:
        dsc = tar.extractfile(members[n]).read().decode()
        field = dict(re.findall(r"^(Source|Version): (\S+)$", dsc, re.M))
        check(f"{field.get('Source')} {field.get('Version')}" in notices, f"the notices do not name the source of {n}")
        for sha, name in re.findall(r"^ ([0-9a-f]{64}) \d+ (\S+)$", dsc, re.M):
            m = members.get("debian-sources/" + name)
            check(m and hashlib.sha256(tar.extractfile(m).read()).hexdigest() == sha, f"{name} missing or not as {n} says")
    check({"tools/windows/toolchain.sh", "tools/windows/libdeflate.sh", "tools/windows/quazip-no-network.patch"} <= members.keys(),
          "the sources file lacks a build script or the patch")
print("\n".join("FAIL: " + f for f in failures) or "PE checks OK")
sys.exit(1 if failures else 0)
PY
