"""Metadata tags against exiftool and exiv2: what we write they read with the
same values, and what they write into camera-like files we list with the same
ids, types and values."""
import json
import subprocess

import pytest
from PIL import Image

import korvex

TYPES = {"Byte": 1, "Ascii": 2, "Short": 3, "Long": 4, "Rational": 5, "Undefined": 7,
         "SLong": 9, "SRational": 10}
POINTERS = {0x8769, 0x8825, 0xA005}


def tool(*args):
    r = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    return r.stdout


def ours(path):
    """Every item we list: id -> (type, value text)."""
    e = korvex.cKorvex()
    assert e.LoadFromFile(str(path)) == 0
    return {e.TagsGetID(i): (e.TagsGetType(i), e.TagsGetValue(i))
            for i in range(1, e.TagsCount() + 1)}


def exiv2_items(path):
    """exiv2's raw values in our notation: id -> (type, value text)."""
    items = {}
    for line in tool("exiv2", "-PExycv", path).splitlines():
        tag, type_name, _count, *value = line.split(None, 3) + [""]
        tag = int(tag, 16)
        if tag in POINTERS:
            continue
        value = value[0] if value else ""
        text = value if type_name == "Ascii" else ", ".join(value.split())
        items[tag] = (TYPES[type_name], text)
    # UNDEFINED bytes from exiv2's hex dump (its plain value interprets some of them).
    tag = None
    for line in tool("exiv2", "-PExyh", path).splitlines():
        if line.startswith("0x"):
            tag = int(line.split()[0], 16) if line.split()[1] == "Undefined" else None
            if tag is not None:
                items[tag] = (7, "")
        elif tag is not None and line.strip():
            more = ", ".join(b.upper() for b in line[8:56].split())
            items[tag] = (7, items[tag][1] + (", " if items[tag][1] else "") + more)
    return items


def exiftool_numbers(path):
    return json.loads(tool("exiftool", "-j", "-n", "-a", "-u", "-G1", str(path)))[0]


# Written by us through each type: (type, id, text, exiftool key, exiftool -n value).
WRITES = [
    (2, 315, "Jane Doe", "IFD0:Artist", "Jane Doe"),
    (3, 274, "6", "IFD0:Orientation", 6),
    (3, 0x8827, "400", "ExifIFD:ISO", 400),
    (4, 0xA002, "4000", "ExifIFD:ExifImageWidth", 4000),
    (5, 0x829A, "1/125", "ExifIFD:ExposureTime", 0.008),
    (2, 0x9003, "2024:05:06 07:08:09", "ExifIFD:DateTimeOriginal", "2024:05:06 07:08:09"),
    (1, 0, "2, 3, 0, 0", "GPS:GPSVersionID", "2 3 0 0"),
    (2, 1, "S", "GPS:GPSLatitudeRef", "S"),
    (5, 2, "33/1, 30/1, 1512/100", "GPS:GPSLatitude", 33.5042),
    (1, 0xC000, "1, 2, 250", "IFD0:Exif_0xc000", "1 2 250"),  # private: exiv2 skips it
]
MEMBERS = {1: "TagsWriteTypeByte", 2: "TagsWriteTypeASCII", 3: "TagsWriteTypeShort",
           4: "TagsWriteTypeLong", 5: "TagsWriteTypeRational"}


def save(e, path):
    assert (e.SaveAsJpeg(str(path)) if path.suffix == ".jpg" else e.SaveAsTiff(str(path))) == 0


@pytest.mark.parametrize("ext", ["jpg", "tif"])
def test_tags_we_write_in_each_type_are_read_by_exiftool_and_exiv2(tmp_path, ext):
    e = korvex.cKorvex()
    assert e.CreateNewImage(24, 16, 24, 0xFF204060) > 0
    for kind, tag, text, _key, _value in WRITES:
        assert getattr(e, MEMBERS[kind])(tag, text) == 0, tag
    save(e, out := tmp_path / ("ours." + ext))
    numbers = exiftool_numbers(out)
    for _kind, _tag, _text, key, value in WRITES:
        assert numbers[key] == (pytest.approx(value, abs=1e-4) if isinstance(value, float)
                                else value), key
    # Every item we list after reloading is exiv2's, byte for byte, and no more.
    listed = ours(out)
    assert {t: v for t, v in listed.items() if t != 0xC000} == exiv2_items(out)
    for kind, tag, text, _key, _value in WRITES:
        assert listed[tag] == (kind, text)


def camera_like(tmp_path, ext):
    """A plain image with camera tags written by exiftool, then one more by exiv2."""
    path = tmp_path / ("camera." + ext)
    Image.new("RGB", (40, 30), (200, 120, 40)).save(path)
    tool("exiftool", "-q", "-overwrite_original", "-Make=Canon", "-Model=EOS 5D Mark IV",
         "-DateTimeOriginal=2023:07:14 18:30:05", "-ExposureTime=1/250", "-FNumber=5.6",
         "-ISO=320", "-GPSLatitude=48.8566", "-GPSLatitudeRef=N", "-GPSLongitude=2.3522",
         "-GPSLongitudeRef=E", "-GPSAltitude=35", path)
    tool("exiv2", "-M", "set Exif.Image.Artist Ada Lovelace", "-M",
         "set Exif.Photo.UserComment charset=Ascii Sunset", path)
    return path


@pytest.mark.parametrize("ext", ["jpg", "tif"])
def test_camera_tags_written_by_exiftool_and_exiv2_are_listed_with_their_ids_and_values(
        tmp_path, ext):
    path = camera_like(tmp_path, ext)
    listed = ours(path)
    assert listed == exiv2_items(path)
    expected = {0x010F: (2, "Canon"), 0x0110: (2, "EOS 5D Mark IV"), 0x013B: (2, "Ada Lovelace"),
                0x9003: (2, "2023:07:14 18:30:05"), 0x829A: (5, "1/250"), 0x829D: (5, "28/5"),
                0x8827: (3, "320"), 0x0001: (2, "N"), 0x0003: (2, "E"), 0x0006: (5, "35/1"),
                0x9286: (7, "41, 53, 43, 49, 49, 00, 00, 00, 53, 75, 6E, 73, 65, 74")}
    assert {tag: listed[tag] for tag in expected} == expected

    # Saved again by us, exiv2 still reads every item as before.
    e = korvex.cKorvex()
    assert e.LoadFromFile(str(path)) == 0
    assert e.TagsWriteTypeASCII(315, "Grace Hopper") == 0
    save(e, again := tmp_path / ("again." + ext))
    reread = ours(again)
    assert {tag: reread[tag] for tag in expected} == {**expected, 0x013B: (2, "Grace Hopper")}
    assert reread == exiv2_items(again)


@pytest.mark.parametrize("ext", ["jpg", "tif"])
def test_an_interoperability_directory_stays_one_and_never_becomes_gps_tags(tmp_path, ext):
    path = tmp_path / "interop.jpg"
    Image.new("RGB", (16, 16), (10, 20, 30)).save(path)
    tool("exiftool", "-q", "-overwrite_original", "-Make=Canon", "-InteropIndex=R98",
         "-InteropVersion=0100", path)
    e = korvex.cKorvex()
    assert e.LoadFromFile(str(path)) == 0
    save(e, tmp_path / ("saved." + ext))
    groups = {line.split(None, 3)[2]: tuple(line.split(None, 3)[1::2])
              for line in tool("exiv2", "-PExgkv", tmp_path / ("saved." + ext)).splitlines()}
    assert groups["Exif.Iop.InteroperabilityIndex"] == ("Iop", "R98")
    assert not [k for k in groups if k.startswith("Exif.GPSInfo.")]
