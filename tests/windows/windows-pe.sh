# The portable zip as Windows reads it: a 64-bit GUI program with its icon group and
# manifest, and exactly the DLLs that it and its plug-ins import, besides Windows' own.
#   bash windows-pe.sh SOURCE_DIR VERSION
set -euo pipefail
zip="$1/dist/halcyon-$2-win64.zip"
[ -f "$zip" ] || { echo "SKIP: no $zip: build it with tools/windows/package.sh" >&2; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
/usr/bin/python3 - "$work/halcyon-$2-win64" "$1/tools/windows/system-dlls.txt" <<'PY'
import os, sys, pefile
app, system_list = sys.argv[1:]
failures = []
def check(ok, what):
    ok or failures.append(what)

exe = pefile.PE(os.path.join(app, "halcyon.exe"))
check(exe.FILE_HEADER.Machine == 0x8664 and exe.OPTIONAL_HEADER.Subsystem == 2, "halcyon.exe is no x86-64 GUI program")
# (type, name or id) -> (language, bytes)
res = {(t.id, str(i.name) if i.name else i.id): (l.id, exe.get_data(l.data.struct.OffsetToData, l.data.struct.Size))
       for t in exe.DIRECTORY_ENTRY_RESOURCE.entries for i in t.directory.entries for l in i.directory.entries}
check(sorted({t for t, _ in res}) == [3, 14, 24], f"resource types {sorted({t for t, _ in res})}, want icon, group, manifest")
check({lang for lang, _ in res.values()} == {0x409}, "a resource is not English (United States)")
check(int.from_bytes(res.get((14, "IDI_ICON1"), (0, b"\0" * 6))[1][4:6], "little") == 8, "no icon group IDI_ICON1 of 8 images")
manifest = res.get((24, 1), (0, b""))[1]
check(b'level="asInvoker"' in manifest and b'uiAccess="false"' in manifest, "manifest 1 does not ask for asInvoker")

system = {l.split("#")[0].strip().lower() for l in open(system_list)} - {""}
# Windows file names are case-insensitive: lower-case name -> path.
files = {os.path.relpath(os.path.join(d, f), app).lower(): os.path.join(d, f) for d, _, fs in os.walk(app) for f in fs}
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
print("\n".join("FAIL: " + f for f in failures) or "PE checks OK")
sys.exit(1 if failures else 0)
PY
