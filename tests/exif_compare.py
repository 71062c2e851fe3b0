#!/usr/bin/env python3
"""The metadata pixvane-decode --info shows, against exiftool's reading of the
same files: files we tag with exiftool, then every corpus file that holds
EXIF, GPS, XMP or IPTC values. Usage: exif_compare.py DECODE_TOOL SAMPLES [CORPUS]
Exits 77 (skipped) without exiftool."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Tagged copies of our samples: sample, exiftool's arguments.
MADE = [
    ("sample.jpg", ["-Make=Pixcam Optics", "-Model=PV-1 Mark II", "-DateTimeOriginal=2024:05:17 10:22:33", "-ISO=400",
                    "-ExposureTime=1/250", "-FNumber=5.6", "-GPSLatitude=48.8584", "-GPSLatitudeRef=N", "-GPSAltitude=35",
                    "-GPSLongitude=2.2945", "-GPSLongitudeRef=E", "-Orientation#=6", "-XMP-dc:Title=Tower",
                    "-IPTC:Keywords=paris", "-IPTC:Keywords=tower"]),
    ("sample.jpg", ["-Make=Far South ", "-Model=X", "-GPSLatitude=33.8688", "-GPSLatitudeRef=S", "-GPSAltitudeRef=1",
                    "-GPSLongitude=151.2093", "-GPSLongitudeRef=E", "-GPSAltitude=12.6", "-ExposureTime=2.5",
                    "-FNumber=16", "-Orientation#=8", "-IPTC:ObjectName=Harbour"]),
    ("sample.tif", ["-Make=Scanmaker", "-Model=S-2000", "-DateTimeOriginal=2019:01:02 03:04:05", "-Orientation#=3",
                    "-XMP-dc:Subject=scan", "-XMP-dc:Subject=archive"]),
    ("sample.png", ["-Make=Pixcam", "-Model=PV-2", "-ISO=1600", "-ExposureTime=1/60", "-XMP-dc:Title=Screen"]),
    ("sample.webp", ["-Make=Pixcam", "-Model=PV-3", "-FNumber=2.8", "-GPSLatitude=1.5", "-GPSLatitudeRef=N",
                     "-GPSLongitude=103.8", "-GPSLongitudeRef=E", "-XMP-dc:Title=Lion"]),
    ("sample.psd", ["-Make=Pixcam", "-Model=PV-4", "-IPTC:Keywords=layered", "-IPTC:ObjectName=Layers"])]

TAGS = ["EXIF:Make", "EXIF:Model", "EXIF:DateTimeOriginal", "EXIF:ExposureTime", "EXIF:FNumber", "EXIF:ISO",
        "EXIF:GPSLatitude", "EXIF:GPSLatitudeRef", "EXIF:GPSLongitude", "EXIF:GPSLongitudeRef", "EXIF:GPSAltitude",
        "EXIF:GPSAltitudeRef", "EXIF:Orientation", "XMP:CreateDate", "XMP:Title", "XMP:Subject", "IPTC:ObjectName", "IPTC:Keywords"]

# Orientation names by their TIFF value.
ORIENTATIONS = {1: "Unrotated", 2: "Mirrored", 3: "Rotated 180", 4: "Bottom-Up", 5: "Rotated 90 & Bottom-Up",
                6: "Rotated 270", 7: "Rotated 270 & Bottom-Up", 8: "Rotated 90"}

GPS = re.compile(r"(\d+)°(\d+)'([\d.]+)\" (\w), (\d+)°(\d+)'([\d.]+)\" (\w), ([+-]\d+)m$")


def ours(tool, path):
    run = subprocess.run([tool, "--info", path], capture_output=True, text=True, encoding="utf-8")
    if run.returncode != 0:
        return None
    shown = {}
    for line in run.stdout.splitlines():
        fields = line.split("\t")
        if fields[0] == "property" and len(fields) == 4:
            shown[fields[2]] = fields[3]
    return shown


def theirs(paths):
    run = subprocess.run(["exiftool", "-q", "-q", "-j", "-n", "-G"] + ["-" + t for t in TAGS] + paths,
                         capture_output=True, text=True)
    return {os.path.abspath(e["SourceFile"]): e for e in json.loads(run.stdout or "[]")}


def as_list(v):
    return [str(x) for x in v] if isinstance(v, list) else [str(v)]


def number(v, e, suffix=""):
    return v.endswith(suffix) and abs(float(v[:len(v) - len(suffix)]) - float(e)) <= 0.0005


def gps(v, exif):
    m = GPS.match(v)
    if not m:
        return False
    g = m.groups()
    altitude = float(exif.get("EXIF:GPSAltitude", 0)) * (-1 if exif.get("EXIF:GPSAltitudeRef") == 1 else 1)
    return all(abs(int(d) + int(mi) / 60 + float(se) / 3600 - exif[tag]) <= 2e-6 and ref == exif.get(tag + "Ref")
               for d, mi, se, ref, tag in ((*g[0:4], "EXIF:GPSLatitude"), (*g[4:8], "EXIF:GPSLongitude"))) \
        and abs(int(g[8]) - altitude) <= 0.5


# Our property, the tags exiftool may give it from (the first found is
# compared), and how the two agree. An XMP creation date replaces the
# camera's; exiftool writes its "2018-11-08T16:26:56" in the EXIF way.
CHECKS = [
    ("Camera maker", ["EXIF:Make"], lambda v, e, x: v == str(e).rstrip()),
    ("Camera model", ["EXIF:Model"], lambda v, e, x: v == str(e).rstrip()),
    ("Creation date", ["XMP:CreateDate", "EXIF:DateTimeOriginal"],
     lambda v, e, x: re.sub(r"^(\d+)-(\d+)-(\d+)T", r"\1:\2:\3 ", v) == str(e)),
    ("Exposure time", ["EXIF:ExposureTime"], lambda v, e, x: number(v, e, " s")),
    ("F-number", ["EXIF:FNumber"], lambda v, e, x: number(v, e)),
    ("ISO speed", ["EXIF:ISO"], lambda v, e, x: v == as_list(e)[0]),
    ("Orientation", ["EXIF:Orientation"], lambda v, e, x: v == ORIENTATIONS.get(e)),
    ("GPS position", ["EXIF:GPSLatitude"], lambda v, e, x: "EXIF:GPSLongitude" in x and gps(v, x)),
    ("Title", ["XMP:Title", "IPTC:ObjectName"], lambda v, e, x: v == str(e)),
]


def checks(mine, exif):
    """(what, expected, shown, agrees) for every value exiftool found."""
    out = []
    for what, tags, agrees in CHECKS:
        found = [exif[t] for t in tags if t in exif]
        if found:
            out.append((what, found[0], mine.get(what), mine.get(what) is not None and agrees(mine[what], found[0], exif)))
    for tag in ("IPTC:Keywords", "XMP:Subject"):
        if tag in exif:
            words = as_list(exif[tag])[:9]
            shown = [mine.get("Keyword %d" % (i + 1)) for i in range(len(words))]
            out.append(("Keywords", words, shown, shown == words))
            break
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    if not shutil.which("exiftool"):
        print("exiftool missing: skipped")
        sys.exit(77)
    tool, samples = os.path.abspath(sys.argv[1]), sys.argv[2]
    corpus = sys.argv[3] if len(sys.argv) > 3 else ""
    work = tempfile.mkdtemp(prefix="pv-exif-")
    files = []
    for i, (sample, arguments) in enumerate(MADE):
        made = os.path.join(work, "%d-%s" % (i, sample))
        shutil.copy(os.path.join(samples, sample), made)
        subprocess.run(["exiftool", "-q", "-q", "-overwrite_original"] + arguments + [made], check=True)
        files.append(made)
    made_count = len(files)
    if os.path.isdir(corpus):
        for folder in sorted(f for f in os.listdir(corpus) if os.path.isdir(os.path.join(corpus, f))):
            for name in sorted(os.listdir(os.path.join(corpus, folder))):
                if not name.endswith((".pam", ".tsv", ".txt", ".md")):
                    files.append(os.path.join(corpus, folder, name))
    else:
        print("corpus absent: its files skipped")
    read = theirs(files)
    failures, compared, files_compared = 0, 0, 0
    for index, path in enumerate(files):
        exif = read.get(os.path.abspath(path), {})
        if index >= made_count and len(exif) <= 1:
            continue
        mine = ours(tool, path)
        if mine is None:
            if index < made_count:
                print("FAIL %s: not decoded" % path)
                failures += 1
            continue
        results = checks(mine, exif)
        if index < made_count and len(results) < 3:
            print("FAIL %s: exiftool wrote too little (%d values)" % (path, len(results)))
            failures += 1
        files_compared += bool(results)
        for what, expected, shown, agrees in results:
            compared += 1
            if not agrees:
                failures += 1
                print("FAIL %s: %s is %r, exiftool reads %r" % (os.path.basename(path), what, shown, expected))
    print("metadata: %d values in %d files (%d made here) compared with exiftool, %d differ"
          % (compared, files_compared, made_count, failures))
    shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
