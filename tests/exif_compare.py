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
    ("sample.jpg", ["-Make=Pixcam Optics", "-Model=PV-1 Mark II", "-DateTimeOriginal=2024:05:17 10:22:33",
                    "-ExposureTime=1/250", "-FNumber=5.6", "-ISO=400", "-GPSLatitude=48.8584", "-GPSLatitudeRef=N",
                    "-GPSLongitude=2.2945", "-GPSLongitudeRef=E", "-GPSAltitude=35", "-Orientation#=6",
                    "-XMP-dc:Title=Tower", "-IPTC:Keywords=paris", "-IPTC:Keywords=tower"]),
    ("sample.jpg", ["-Make=Far South ", "-Model=X", "-GPSLatitude=33.8688", "-GPSLatitudeRef=S",
                    "-GPSLongitude=151.2093", "-GPSLongitudeRef=E", "-GPSAltitude=12.6", "-GPSAltitudeRef=1",
                    "-ExposureTime=2.5", "-FNumber=16", "-Orientation#=8", "-IPTC:ObjectName=Harbour"]),
    ("sample.tif", ["-Make=Scanmaker", "-Model=S-2000", "-DateTimeOriginal=2019:01:02 03:04:05", "-Orientation#=3",
                    "-XMP-dc:Subject=scan", "-XMP-dc:Subject=archive"]),
    ("sample.png", ["-Make=Pixcam", "-Model=PV-2", "-ISO=1600", "-ExposureTime=1/60", "-XMP-dc:Title=Screen"]),
    ("sample.webp", ["-Make=Pixcam", "-Model=PV-3", "-FNumber=2.8", "-GPSLatitude=1.5", "-GPSLatitudeRef=N",
                     "-GPSLongitude=103.8", "-GPSLongitudeRef=E", "-XMP-dc:Title=Lion"]),
    ("sample.psd", ["-Make=Pixcam", "-Model=PV-4", "-IPTC:Keywords=layered", "-IPTC:ObjectName=Layers"]),
]

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


def near(a, b, tolerance):
    return abs(float(a) - float(b)) <= tolerance


def degrees(d, m, s):
    return int(d) + int(m) / 60 + float(s) / 3600


def checks(mine, exif):
    """(what, expected, shown, agrees) for every value exiftool found."""
    out = []

    def check(what, expected, agrees):
        out.append((what, expected, mine.get(what), mine.get(what) is not None and agrees(mine[what])))

    for tag, name in (("EXIF:Make", "Camera maker"), ("EXIF:Model", "Camera model")):
        if tag in exif:
            check(name, str(exif[tag]).rstrip(), lambda v, e=str(exif[tag]).rstrip(): v == e)
    # An XMP creation date replaces the camera's; exiftool writes its
    # "2018-11-08T16:26:56" in the EXIF way.
    date = exif.get("XMP:CreateDate", exif.get("EXIF:DateTimeOriginal"))
    if date is not None:
        check("Creation date", str(date), lambda v: re.sub(r"^(\d+)-(\d+)-(\d+)T", r"\1:\2:\3 ", v) == str(date))
    if "EXIF:ExposureTime" in exif:
        check("Exposure time", exif["EXIF:ExposureTime"],
              lambda v: v.endswith(" s") and near(v[:-2], exif["EXIF:ExposureTime"], 0.0005))
    if "EXIF:FNumber" in exif:
        check("F-number", exif["EXIF:FNumber"], lambda v: near(v, exif["EXIF:FNumber"], 0.0005))
    if "EXIF:ISO" in exif:
        check("ISO speed", exif["EXIF:ISO"], lambda v: v == as_list(exif["EXIF:ISO"])[0])
    if "EXIF:Orientation" in exif and exif["EXIF:Orientation"] in ORIENTATIONS:
        expected = ORIENTATIONS[exif["EXIF:Orientation"]]
        check("Orientation", expected, lambda v: v == expected)
    if "EXIF:GPSLatitude" in exif and "EXIF:GPSLongitude" in exif:
        def gps(v):
            m = GPS.match(v)
            if not m:
                return False
            g = m.groups()
            ok = near(degrees(*g[0:3]), exif["EXIF:GPSLatitude"], 2e-6) and g[3] == exif.get("EXIF:GPSLatitudeRef")
            ok = ok and near(degrees(*g[4:7]), exif["EXIF:GPSLongitude"], 2e-6)
            ok = ok and g[7] == exif.get("EXIF:GPSLongitudeRef")
            altitude = float(exif.get("EXIF:GPSAltitude", 0)) * (-1 if exif.get("EXIF:GPSAltitudeRef") == 1 else 1)
            return ok and abs(int(g[8]) - altitude) <= 0.5
        check("GPS position", (exif["EXIF:GPSLatitude"], exif["EXIF:GPSLongitude"]), gps)
    titles = [str(exif[t]) for t in ("XMP:Title", "IPTC:ObjectName") if t in exif]
    if titles:
        check("Title", titles, lambda v: v in titles)
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
