"""The Python module against the command line, and its refusals."""

import inspect
import os
import signal
import subprocess
import sys
import threading
import time
import warnings

import numpy
import pytest

import lumet

CLI = os.environ["LUMET_CLI"]


def cli(folder, *args):
    return subprocess.run([CLI, "-C", str(folder), *args], capture_output=True, text=True)


@pytest.fixture(scope="module")
def chart(tmp_path_factory):
    """A synthetic chart sequence of 9 frames and its command-line result."""
    folder = tmp_path_factory.mktemp("chart")
    assert cli(folder, "synth", ".", "--lr-count", "8").returncode == 0
    return folder


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.mark.parametrize(
    "synth, run",
    [
        ([], ["--lr-count", "8"]),
        (["--scene", "texture", "--scale", "3", "--psf-sigma", "0.8"],
         ["--lr-count", "6", "--roi", "120,90,50,30", "--alpha", "0.5", "--ransac", "10/20"]),
        ([], ["--lr-count", "5", "--method", "enhanced", "--iterations", "8"]),
        (["--psf-sigma", "1.0"], ["--lr-count", "6", "--method", "enhanced", "--iterations", "12", "--psf-check", "off"]),
        ([], ["--lr-count", "5", "--scale", "2", "--roi", "100,60,70,50"]),
    ],
)
def test_identical_to_the_command_line(tmp_path, synth, run):
    assert cli(tmp_path, "synth", ".", "--lr-count", "8", *synth).returncode == 0
    done = cli(tmp_path, "run", *run)
    assert done.returncode == 0, done.stderr
    # The same options as keywords: "--lr-count 8" is lr_count=8, "--ransac 10/20" ransac="10/20".
    keywords = {run[i][2:].replace("-", "_"): run[i + 1] for i in range(0, len(run), 2)}
    for name in ("lr_count", "iterations", "scale"):
        if name in keywords:
            keywords[name] = int(keywords[name])
    if "roi" in keywords:
        keywords["roi"] = tuple(int(v) for v in keywords["roi"].split(","))
    else:
        keywords["roi"] = (160, 100, 40, 40)
    if "alpha" in keywords:
        keywords["alpha"] = float(keywords["alpha"])
    if "psf_check" in keywords:
        keywords["psf_check"] = keywords["psf_check"] == "on"
    params = dict(line.split(" = ", 1) for line in cli(tmp_path, "params").stdout.splitlines() if " = " in line)
    keywords.setdefault("scale", int(float(params["scale"])))
    keywords.setdefault("psf_sigma", float(params["psfSigma"]))
    frames = lumet.read_frames(str(tmp_path / "images" / "lr-%d.bmp"))
    hr = lumet.super_resolve(frames, **keywords)
    lumet.write_image(str(tmp_path / "python.bmp"), hr)
    assert read_file(tmp_path / "python.bmp") == read_file(tmp_path / "result" / "hr.bmp")
    roi = keywords["roi"]
    assert hr.shape == (roi[3] * keywords["scale"], roi[2] * keywords["scale"], 3)
    assert hr.dtype == numpy.uint8


def test_register_then_reconstruct_is_super_resolve(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"))
    roi = (160, 100, 40, 40)
    homographies, errors = lumet.register(frames, roi, lr_count=8, units="file")
    assert homographies.shape == (9, 3, 3) and homographies.dtype == numpy.float64
    assert errors.shape == (9, 2)
    numpy.testing.assert_array_equal(homographies[0], numpy.eye(3))
    # The files' numbers, six significant digits.
    assert cli(chart, "register", "--lr-count", "8").returncode == 0
    for k in range(1, 9):
        text = read_file(chart / "result" / f"hr_hom-{k}.txt").split()
        numpy.testing.assert_array_equal(homographies[k].flat[:8], [float(v) for v in text])
    assert (errors[1:, 1] < 20).all() and (errors[1:, 1] > 0).all()
    # Pixel units, the default: the same maps with the translation times 600 and the
    # perspective row divided by 600.
    pixels, pixel_errors = lumet.register(frames, roi, lr_count=8)
    numpy.testing.assert_array_equal(pixel_errors, errors)
    to_pixels = numpy.array([[1, 1, 600], [1, 1, 600], [1 / 600, 1 / 600, 1]])
    numpy.testing.assert_allclose(pixels, homographies * to_pixels, rtol=1e-15, atol=0)
    expected = lumet.super_resolve(frames, roi, lr_count=8)
    cases = [
        ("file units, scaled as a whole", homographies * 2.0, "file"),
        ("pixel units as register returns them", pixels, "pixel"),
        # cv2.findHomography's scale is h33 = 1, but any other is the same map.
        ("pixel units scaled as a whole", pixels * -3.5, "pixel"),
        ("pixel units as a list of 3 x 3 arrays", list(pixels), "pixel"),
    ]
    for what, given, units in cases:
        hr = lumet.reconstruct(list(frames), given, roi, lr_count=8, units=units)
        assert hr.tobytes() == expected.tobytes(), what
    # float32 (as some tools keep homographies) is taken too; six digits of a pixel-unit
    # translation are about what float32 holds, so the result stays close.
    hr = lumet.reconstruct(frames, pixels.astype(numpy.float32), roi, lr_count=8)
    assert numpy.abs(hr.astype(int) - expected).mean() < 0.5
    with pytest.raises(ValueError, match="units must be 'pixel'"):
        lumet.reconstruct(frames, pixels, roi, lr_count=8, units="pixels")
    flat = pixels.copy()
    flat[3, 2, 2] = 0.0
    with pytest.raises(ValueError, match=r"homographies\[3\]: a homography with h33 = 0"):
        lumet.reconstruct(frames, flat, roi, lr_count=8)


def test_enhanced_round_trip_of_pixel_homographies(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=7)
    roi = (150, 90, 36, 30)
    keywords = dict(lr_count=5, method="enhanced", iterations=6)
    homographies, _ = lumet.register(frames, roi, **keywords)
    hr = lumet.reconstruct(frames, homographies, roi, **keywords)
    assert hr.tobytes() == lumet.super_resolve(frames, roi, **keywords).tobytes()


def test_frames_refused_with_what_is_accepted(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    roi = (160, 100, 40, 40)
    cases = [
        (frames[0], ValueError, "looks like one colour image"),
        (numpy.concatenate([frames, frames[..., :1]], axis=-1), ValueError, "four channels"),
        (frames.astype(numpy.int32), ValueError, "int32"),
        (frames.astype(numpy.float64) / 255, ValueError, "float64"),
        (frames[:, ::2], ValueError, "C-contiguous"),
        ("images/lr-%d.bmp", TypeError, "not str"),
        ([frames[0], frames[1][:100]], ValueError, "frames[1] is 320 x 100 pixels"),
        (frames[:1], ValueError, "frame 0 and at least one more"),
    ]
    for given, error, words in cases:
        with pytest.raises(error) as raised:
            lumet.super_resolve(given, roi)
        assert words in str(raised.value), (words, str(raised.value))
        if error is ValueError and "frame" not in words:
            assert "(N, H, W, 3)" in str(raised.value)


def test_deep_frames_and_results_in_their_dtype(chart, tmp_path):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6)
    roi = (160, 100, 40, 40)
    enhanced = dict(lr_count=4, method="enhanced", iterations=6)
    as16 = frames.astype(numpy.uint16) * 257
    # 8-bit levels as 16-bit samples are the same numbers: the same estimate, given back in
    # the frames' dtype, its samples // 257 the 8-bit result.
    for keywords in ({"lr_count": 4}, enhanced):
        eight = lumet.super_resolve(frames, roi, **keywords)
        sixteen = lumet.super_resolve(as16, roi, **keywords)
        assert eight.dtype == numpy.uint8 and sixteen.dtype == numpy.uint16 and sixteen.shape == eight.shape
        assert (sixteen // 257).astype(numpy.uint8).tobytes() == eight.tobytes(), keywords
        assert lumet.super_resolve(as16, roi, dtype=numpy.uint8, **keywords).tobytes() == eight.tobytes()
        assert lumet.super_resolve(frames, roi, dtype="uint16", **keywords).tobytes() == sixteen.tobytes()
        as_float = lumet.super_resolve(frames, roi, dtype=numpy.float32, **keywords)
        assert as_float.dtype == numpy.float32 and 0.0 <= as_float.min() and as_float.max() <= 1.0
        # float32 is the estimate itself over 255; uint16 floors it at 1/257 of a level.
        assert numpy.abs(as_float * 65535.0 - sixteen).max() <= 1.01
    # Fractions of a level: registration and the classic method read the frames rounded to 8
    # bits (these round back to the BMP's levels); the enhanced method reads them.
    fractions = as16 + (numpy.arange(as16.size, dtype=numpy.uint16).reshape(as16.shape) % 100)
    assert lumet.super_resolve(fractions, roi, dtype=numpy.uint8, lr_count=4).tobytes() == \
        lumet.super_resolve(frames, roi, lr_count=4).tobytes()
    deep = lumet.super_resolve(fractions, roi, **enhanced)
    assert deep.tobytes() != lumet.super_resolve(as16, roi, **enhanced).tobytes()
    homographies, _ = lumet.register(fractions, roi, **enhanced)
    assert lumet.reconstruct(fractions, homographies, roi, **enhanced).tobytes() == deep.tobytes()
    # float32 frames in 0 .. 1: read at 8 bits as their levels times 255, rounded.
    unit = frames.astype(numpy.float32) / 255
    classic = lumet.super_resolve(unit, roi, lr_count=4)
    assert classic.dtype == numpy.float32
    assert lumet.super_resolve(unit, roi, lr_count=4, dtype=numpy.uint8).tobytes() == \
        lumet.super_resolve(frames, roi, lr_count=4).tobytes()
    with pytest.raises(ValueError, match="dtype must be None"):
        lumet.super_resolve(frames, roi, dtype=numpy.int16)
    # uint16 images are written at 16 bits as they are.
    image = (numpy.arange(12 * 10 * 3, dtype=numpy.uint16).reshape(10, 12, 3) * 181) % 65536
    image = image.astype(numpy.uint16)
    for name in ("deep.png", "deep.tif"):
        lumet.write_image(str(tmp_path / name), image)
        back = lumet.read_frames(str(tmp_path / name))
        numpy.testing.assert_array_equal(back[0], ((image.astype(numpy.int64) * 255 + 32767) // 65535).astype(numpy.uint8))
    assert read_file(tmp_path / "deep.png")[24] == 16
    with pytest.raises(ValueError, match="8 bits"):
        lumet.write_image(str(tmp_path / "deep.bmp"), image)


def test_grey_frames_give_a_grey_result(chart, tmp_path):
    """Grey frames are one band: the result of the same frames in three equal channels, in
    the frames' own form and dtype, whether they come as a stack, a list or a generator."""
    colour = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6)
    grey = numpy.ascontiguousarray(colour[..., 1])
    as_colour = numpy.ascontiguousarray(numpy.repeat(grey[..., None], 3, axis=-1))
    roi = (160, 100, 40, 40)
    for keywords in ({"lr_count": 4}, dict(lr_count=4, method="enhanced", iterations=6)):
        wanted = lumet.super_resolve(as_colour, roi, **keywords)
        # Three equal channels in, three equal channels out (to a level, the enhanced
        # method's colour transform rounding).
        assert numpy.abs(wanted.astype(int) - wanted[..., :1].astype(int)).max() <= 1, keywords
        result = lumet.super_resolve(grey, roi, **keywords)
        assert result.shape == (160, 160) and result.dtype == numpy.uint8
        assert numpy.abs(result.astype(int) - wanted[..., 1].astype(int)).max() <= 1, keywords
        with_axis = lumet.super_resolve(grey[..., None], roi, **keywords)
        assert with_axis.shape == (160, 160, 1) and with_axis[..., 0].tobytes() == result.tobytes()
        assert lumet.super_resolve(list(grey), roi, **keywords).tobytes() == result.tobytes()
        assert lumet.super_resolve((f for f in grey), roi, **keywords).tobytes() == result.tobytes()
    deep = lumet.super_resolve(grey.astype(numpy.uint16) * 257, roi, lr_count=4)
    assert deep.shape == (160, 160) and deep.dtype == numpy.uint16
    assert (deep // 257).astype(numpy.uint8).tobytes() == lumet.super_resolve(grey, roi, lr_count=4).tobytes()
    homographies, _ = lumet.register(grey, roi, lr_count=4)
    assert lumet.reconstruct(grey, homographies, roi, lr_count=4).shape == (160, 160)
    assert [f.shape for f in lumet.super_resolve_video(grey, roi, radius=1, first=2, last=3)] == [(160, 160)] * 2
    # A grey image is written as three equal channels.
    lumet.write_image(str(tmp_path / "grey.png"), grey[0])
    numpy.testing.assert_array_equal(lumet.read_frames(str(tmp_path / "grey.png"))[0], as_colour[0])


def test_float_images_written_and_read_at_their_depth(chart, tmp_path):
    # float32 images, beyond 0 .. 1 too, go into OpenEXR and 32-bit float TIFF as they are
    # and come back as float32 within a float's rounding (times 255 and over 255 again).
    image = (numpy.arange(10 * 12 * 3, dtype=numpy.float32).reshape(10, 12, 3) - 60) / 150
    image[2, 3] = [17.5, -0.75, 1.0]
    for name in ("float.exr", "float.tif"):
        lumet.write_image(str(tmp_path / name), image)
        back = lumet.read_frames(str(tmp_path / name), dtype=numpy.float32)
        assert back.dtype == numpy.float32 and back.shape == (1, 10, 12, 3)
        numpy.testing.assert_allclose(back[0], image, rtol=1.2e-7, atol=1e-12)
        # The default stays the 8-bit values: v * 255 rounded and clamped.
        eight = lumet.read_frames(str(tmp_path / name))
        assert eight.dtype == numpy.uint8
        numpy.testing.assert_array_equal(eight[0], numpy.clip(numpy.floor(image.astype(numpy.float64) * 255 + 0.5),
                                                              0, 255).astype(numpy.uint8))
        bgr = lumet.read_frames(str(tmp_path / name), dtype="float32", channel_order="BGR")
        numpy.testing.assert_array_equal(bgr[0], back[0][:, :, ::-1])
    # float16 images go into OpenEXR as half floats, read back as the very same values, in a
    # file whose channels are half (pixel type 1 in its channel list).
    half = image.astype(numpy.float16)
    lumet.write_image(str(tmp_path / "half.exr"), half)
    back = lumet.read_frames(str(tmp_path / "half.exr"), dtype=numpy.float32)
    numpy.testing.assert_array_equal(back[0], half.astype(numpy.float32))
    numpy.testing.assert_allclose(back[0], image, rtol=1e-3, atol=1e-7)
    with open(tmp_path / "half.exr", "rb") as f:
        header = f.read(400)
    assert b"B\0\x01\0\0\0" in header and b"B\0\x02\0\0\0" not in header
    with pytest.raises(ValueError, match="float16 images as .exr"):
        lumet.write_image(str(tmp_path / "half.tif"), half)
    # 8-bit and 16-bit files at other dtypes: levels over 255, times 257; samples over 65535.
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=2)
    as_float = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=2, dtype=numpy.float32)
    numpy.testing.assert_allclose(as_float, frames / 255.0, rtol=1e-7)
    as16 = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=2, dtype=numpy.uint16)
    numpy.testing.assert_array_equal(as16, frames.astype(numpy.uint16) * 257)
    deep = (numpy.arange(4 * 5 * 3, dtype=numpy.uint16).reshape(4, 5, 3) * 1091).astype(numpy.uint16)
    lumet.write_image(str(tmp_path / "deep.png"), deep)
    numpy.testing.assert_array_equal(lumet.read_frames(str(tmp_path / "deep.png"), dtype=numpy.uint16)[0], deep)
    numpy.testing.assert_allclose(lumet.read_frames(str(tmp_path / "deep.png"), dtype=numpy.float32)[0],
                                  deep / 65535.0, rtol=2e-7)
    with pytest.raises(ValueError, match="as .exr or .tif"):
        lumet.write_image(str(tmp_path / "float.png"), image)
    with pytest.raises(ValueError, match="OpenEXR file holds floats"):
        lumet.write_image(str(tmp_path / "deep.exr"), deep)
    with pytest.raises(ValueError, match="dtype must be None"):
        lumet.read_frames(str(tmp_path / "float.exr"), dtype=numpy.int32)
    # A sample that is not a number refuses the file, naming it and the pixel.
    image[1, 4, 2] = numpy.nan
    lumet.write_image(str(tmp_path / "nan.exr"), image)
    with pytest.raises(OSError, match=r"nan\.exr.*x 4, y 1 is not a number"):
        lumet.read_frames(str(tmp_path / "nan.exr"))


def icc_profile(size=300, colour_space=b"RGB "):
    """A small well-formed ICC profile: its header and one tag filling the rest."""
    import struct
    header = bytearray(128)
    struct.pack_into(">I", header, 0, size)
    header[12:24] = b"mntr" + colour_space + b"XYZ "
    header[36:40] = b"acsp"
    struct.pack_into(">III", header, 68, 0xF6D6, 0x10000, 0xD32D)
    table = struct.pack(">I4sII", 1, b"zzzz", 144, size - 144)
    return bytes(header) + table + bytes((i * 7) & 0xFF for i in range(size - 144))


def png_chunks(path):
    """Every chunk of a PNG file as (type, data), in order."""
    import struct
    with open(path, "rb") as f:
        data = f.read()
    chunks, at = [], 8
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        chunks.append((data[at + 4:at + 8], data[at + 8:at + 8 + length]))
        at += 12 + length
    return chunks


def test_write_image_keeps_a_profile_and_exif_where_the_format_holds_them(tmp_path):
    import struct
    import zlib
    profile = icc_profile()
    exif = b"MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
    image = numpy.arange(6 * 7 * 3, dtype=numpy.uint8).reshape(6, 7, 3)
    lumet.write_image(str(tmp_path / "kept.png"), image, icc_profile=profile, exif=exif)
    chunks = dict(png_chunks(tmp_path / "kept.png"))
    name, _, compressed = chunks[b"iCCP"].partition(b"\0")
    assert name == b"ICC profile" and compressed[0] == 0 and zlib.decompress(compressed[1:]) == profile
    assert chunks[b"eXIf"] == exif
    numpy.testing.assert_array_equal(lumet.read_frames(str(tmp_path / "kept.png"))[0], image)
    # Without them, the file is the one written before.
    lumet.write_image(str(tmp_path / "plain.png"), image)
    assert [t for t, _ in png_chunks(tmp_path / "plain.png")] == [b"IHDR", b"IDAT", b"IEND"]
    lumet.write_image(str(tmp_path / "kept.tif"), image.astype(numpy.uint16) * 257, icc_profile=profile)
    with open(tmp_path / "kept.tif", "rb") as f:
        assert profile in f.read()
    with pytest.raises(ValueError, match=r"ICC profile and EXIF cannot be written \(BMP holds neither\)"):
        lumet.write_image(str(tmp_path / "x.bmp"), image, icc_profile=profile, exif=exif)
    # TIFF keeps the EXIF as its own: the orientation in its first directory, beside an EXIF one.
    lumet.write_image(str(tmp_path / "exif.tif"), image, exif=exif)
    carried = lumet.read_metadata(str(tmp_path / "exif.tif"))["exif"]
    order = ">" if carried[:2] == b"MM" else "<"
    (first,) = struct.unpack(order + "I", carried[4:8])
    (entries,) = struct.unpack(order + "H", carried[first:first + 2])
    tags = [struct.unpack(order + "HHIH", carried[first + 2 + 12 * i:first + 12 + 12 * i]) for i in range(entries)]
    assert (0x0112, 3, 1, 6) in tags and any(t[0] == 0x8769 for t in tags)
    # ... but not a thumbnail's directory after the first.
    thumbnail = exif[:-4] + b"\0\0\0\x1a" + b"\0\x01\x01\x03\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0"
    with pytest.raises(ValueError, match=r"EXIF thumbnail cannot be written \(a TIFF result keeps"):
        lumet.write_image(str(tmp_path / "x.tif"), image, exif=thumbnail)
    with pytest.raises(ValueError, match="a profile of grey samples does not describe the RGB result"):
        lumet.write_image(str(tmp_path / "x.png"), image, icc_profile=icc_profile(colour_space=b"GRAY"))
    assert not any(p.name.startswith("x.") for p in tmp_path.iterdir())
    # Read back as write_image takes them: a result can carry frame 0's.
    meta = lumet.read_metadata(str(tmp_path / "kept.png"))
    assert meta == {"icc_profile": profile, "exif": exif}
    lumet.write_image(str(tmp_path / "carried.png"), image[::-1].copy(), **meta)
    assert lumet.read_metadata(str(tmp_path / "carried.png")) == meta
    assert lumet.read_metadata(str(tmp_path / "plain.png")) == {"icc_profile": None, "exif": None}
    assert lumet.read_metadata(str(tmp_path / "kept.tif")) == {"icc_profile": profile, "exif": None}
    with pytest.raises(OSError, match="missing.png"):
        lumet.read_metadata(str(tmp_path / "missing.png"))


def test_parameters_refused_in_keyword_words(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    # The command line's refusal, its label and value replaced by the keyword as given.
    for option, label, keyword, value in [("--psf-sigma", "PSF sigma 7", "psf_sigma", 7.0),
                                          ("--scale", "scale 5", "scale", 5),
                                          ("--sad-size", "SAD size -1", "sad_size", -1),
                                          ("--roi", "ROI 0,0,0,5", "roi", (0, 0, 0, 5)),
                                          ("--method", 'method "fast"', "method", "fast"),
                                          ("--ransac", "RANSAC 3/2", "ransac", (3, 2))]:
        text = (",".join if keyword == "roi" else "/".join)(str(v) for v in value) if isinstance(value, tuple) \
            else str(value)
        words = cli(chart, "params", option, text).stderr.strip()
        assert words.startswith("Error: " + label), words
        keywords = {"roi": (160, 100, 40, 40), keyword: value}
        with pytest.raises(ValueError) as raised:
            lumet.super_resolve(frames, **keywords)
        assert str(raised.value) == f"{keyword}={value!r}" + words[len("Error: " + label):]
    # Advice in the engine's messages names keywords with their Python values.
    with pytest.raises(ValueError) as raised:
        lumet.super_resolve(frames, roi=(300, 100, 40, 40))
    assert str(raised.value).startswith("roi=(300, 100, 40, 40): x + w = 340 exceeds the frame width 320")
    assert str(raised.value).endswith("; roi=(140, 100, 40, 40) fits (centred)")
    with pytest.raises(ValueError) as raised:
        lumet.super_resolve(frames, (160, 100, 40, 40), lr_count=5)
    assert str(raised.value).endswith(": use lr_count=2 or None"), str(raised.value)
    for wrong in ({"lr_pattern": "x%d.bmp"}, {"psf": 1.0}):
        with pytest.raises(TypeError, match="the parameters are lr_count, roi, scale"):
            lumet.super_resolve(frames, roi=(160, 100, 40, 40), **wrong)
    with pytest.raises(TypeError):
        lumet.super_resolve(frames, roi=(160, 100, 40, 40), alpha=True)
    # A switch takes True or False, not a number.
    with pytest.raises(TypeError, match="psf_check must be True or False, not int"):
        lumet.super_resolve(frames, roi=(160, 100, 40, 40), psf_check=1)


def test_files_missing_and_written(chart, tmp_path):
    with pytest.raises(FileNotFoundError) as raised:
        lumet.read_frames(str(tmp_path / "none-%d.png"))
    assert raised.value.filename == str(tmp_path / "none-0.png")
    # Numbered from 1: the start that finds them is proposed.
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    assert frames.shape == (3, 240, 320, 3) and frames.dtype == numpy.uint8
    assert frames.flags.c_contiguous and frames.flags.writeable
    for k in range(3):
        lumet.write_image(str(tmp_path / f"shot_{k + 1:04d}.png"), frames[k])
    bgr = lumet.read_frames(str(tmp_path / "shot_%04d.png"), start=1, channel_order="BGR")
    numpy.testing.assert_array_equal(bgr, frames[..., ::-1])
    with pytest.raises(FileNotFoundError, match="start=1 starts from it"):
        lumet.read_frames(str(tmp_path / "shot_%04d.png"))
    numpy.testing.assert_array_equal(lumet.read_frames(str(tmp_path / "shot_%04d.png"), start=1), frames)
    with pytest.raises(FileNotFoundError):
        lumet.read_frames(str(tmp_path / "shot_%04d.png"), start=1, count=4)
    with pytest.raises(ValueError, match=".bmp, .png, .tif and .exr"):
        lumet.write_image(str(tmp_path / "x.jpg"), frames[0])
    with pytest.raises(OSError):
        lumet.write_image(str(tmp_path / "no" / "such" / "\0x.bmp"), frames[0])


def test_progress_and_its_exceptions(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"))
    seen = []
    lumet.super_resolve(frames, (160, 100, 40, 40), progress=lambda *step: seen.append(step))
    stages = {stage for stage, _, _ in seen}
    assert {"Registration", "Reconstruction"} <= stages
    assert ("Registration", 8, 8) in seen and seen[-1][1] == seen[-1][2]

    def stop(stage, step, total):
        raise RuntimeError(f"stopped at {stage} {step}")

    with pytest.raises(RuntimeError, match="stopped at Registration 1"):
        lumet.super_resolve(frames, (160, 100, 40, 40), progress=stop)


def test_warnings_once_per_kind(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        lumet.register(frames, (160, 100, 40, 40), sad_size=200)
        line = inspect.currentframe().f_lineno - 1
    assert len(caught) == 1
    assert issubclass(caught[0].category, RuntimeWarning)
    text = str(caught[0].message)
    assert text.startswith("frames 1 … 8 (8 frames): no homography search")
    # The caller's line, and the advice in keywords.
    assert (caught[0].filename, caught[0].lineno) == (__file__, line)
    assert "(sad_size=200) does not fit" in text and "a sad_size= below 120 lets it fit" in text, text
    assert "--" not in text


def test_ctrl_c_cancels_soon():
    # A large ROI at scale 4: many seconds of reconstruction.
    rng = numpy.random.default_rng(1)
    scene = rng.integers(0, 256, (260, 340, 3), dtype=numpy.uint8)
    frames = numpy.stack([numpy.ascontiguousarray(scene[y:y + 240, x:x + 320])
                          for y, x in [(0, 0), (1, 2), (2, 1), (3, 3), (2, 4)]])
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(1.0, interrupt)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        lumet.super_resolve(frames, (10, 10, 300, 200), psf_sigma=1.0)
    latency = time.monotonic() - sent[0]
    timer.join()
    print(f"cancelled {latency:.3f} s after Ctrl+C")
    assert latency < 2.0


def test_bgr_frames_give_the_rgb_result_reversed(chart, tmp_path):
    rgb = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6)
    bgr = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6, channel_order="BGR")
    numpy.testing.assert_array_equal(bgr, rgb[..., ::-1])
    roi = (150, 90, 36, 30)
    for keywords in (dict(), dict(method="enhanced", iterations=6)):
        expected = lumet.super_resolve(rgb, roi, **keywords)
        hr = lumet.super_resolve(bgr, roi, channel_order="BGR", **keywords)
        numpy.testing.assert_array_equal(hr, expected[..., ::-1], err_msg=str(keywords))
        homographies, errors = lumet.register(bgr, roi, channel_order="BGR", **keywords)
        numpy.testing.assert_array_equal(homographies, lumet.register(rgb, roi, **keywords)[0])
        hr = lumet.reconstruct(bgr, homographies, roi, channel_order="BGR", **keywords)
        numpy.testing.assert_array_equal(hr, expected[..., ::-1], err_msg=str(keywords))
    # The enhanced method weighs the channels differently: BGR taken as RGB is another image.
    enhanced = dict(method="enhanced", iterations=6)
    assert not numpy.array_equal(lumet.super_resolve(bgr, roi, **enhanced)[..., ::-1],
                                 lumet.super_resolve(rgb, roi, **enhanced))
    lumet.write_image(str(tmp_path / "rgb.png"), rgb[0])
    lumet.write_image(str(tmp_path / "bgr.png"), bgr[0], channel_order="BGR")
    assert read_file(tmp_path / "rgb.png") == read_file(tmp_path / "bgr.png")
    for wrong in ("bgr", "RGBA", 3):
        with pytest.raises(ValueError, match="channel_order must be 'RGB'"):
            lumet.super_resolve(rgb, roi, channel_order=wrong)


def smooth_scene(seed):
    """A smooth random texture defined at every real position: frames of it under any
    homography are exact, with no resampling of a raster."""
    rng = numpy.random.default_rng(seed)
    fx, fy, phase = rng.uniform(-0.5, 0.5, 40), rng.uniform(-0.5, 0.5, 40), rng.uniform(0, 2 * numpy.pi, 40)
    amplitude = rng.uniform(0.5, 1.0, 40)

    def scene(x, y):
        waves = sum(a * numpy.sin(u * x + v * y + p) for a, u, v, p in zip(amplitude, fx, fy, phase))
        return numpy.clip(128 + 18 * waves, 0, 255)
    return scene


def frame_of(scene, h, width=320, height=240):
    """The frame in which frame 0's point p lies at h p: frame(q) = scene(h^-1 q), pixel
    (u, v) sampled at its centre (u, v)."""
    g = numpy.linalg.inv(h)
    v, u = numpy.mgrid[0:height, 0:width].astype(float)
    d = g[2, 0] * u + g[2, 1] * v + g[2, 2]
    x = (g[0, 0] * u + g[0, 1] * v + g[0, 2]) / d
    y = (g[1, 0] * u + g[1, 1] * v + g[1, 2]) / d
    grey = numpy.round(scene(x, y)).astype(numpy.uint8)
    return numpy.ascontiguousarray(numpy.repeat(grey[..., None], 3, axis=-1))


def inverse_warp(frame, h, width, height):
    """What cv2.warpPerspective(frame, h, (width, height), flags=cv2.WARP_INVERSE_MAP |
    cv2.INTER_LINEAR) computes: out(x, y) = frame(h (x, y)), bilinear, pixel centres at whole
    numbers; nan outside the frame."""
    y, x = numpy.mgrid[0:height, 0:width].astype(float)
    d = h[2, 0] * x + h[2, 1] * y + h[2, 2]
    u = (h[0, 0] * x + h[0, 1] * y + h[0, 2]) / d
    v = (h[1, 0] * x + h[1, 1] * y + h[1, 2]) / d
    grey = frame[..., 1].astype(float)
    inside = (u >= 0) & (v >= 0) & (u <= frame.shape[1] - 1) & (v <= frame.shape[0] - 1)
    u0 = numpy.clip(numpy.floor(u), 0, frame.shape[1] - 2).astype(int)
    v0 = numpy.clip(numpy.floor(v), 0, frame.shape[0] - 2).astype(int)
    fu, fv = u - u0, v - v0
    out = ((1 - fv) * ((1 - fu) * grey[v0, u0] + fu * grey[v0, u0 + 1]) +
           fv * ((1 - fu) * grey[v0 + 1, u0] + fu * grey[v0 + 1, u0 + 1]))
    return numpy.where(inside, out, numpy.nan)


def mapped(h, points):
    p = h @ numpy.vstack([points.T, numpy.ones(len(points))])
    return (p[:2] / p[2]).T


def test_pixel_homographies_line_frames_up_as_warp_perspective_does():
    scene = smooth_scene(7)
    roi = (140, 90, 80, 60)
    corners = numpy.array([[140, 90], [220, 90], [140, 150], [220, 150]], float)
    # Frame 1's content lies (3, -2) pixels right and up of frame 0's: frame1(x + 3, y - 2)
    # = frame0(x, y). Frame 2: zoomed by 1.08 and turned by 0.06 rad about (180, 120).
    shift = numpy.array([[1, 0, 3], [0, 1, -2], [0, 0, 1]], float)
    centre = numpy.array([[1, 0, 180], [0, 1, 120], [0, 0, 1]], float)
    c, s = 1.08 * numpy.cos(0.06), 1.08 * numpy.sin(0.06)
    turn = centre @ numpy.array([[c, -s, 0], [s, c, 0], [0, 0, 1]]) @ numpy.linalg.inv(centre)
    frames = [frame_of(scene, h) for h in (numpy.eye(3), shift, turn)]
    classic, _ = lumet.register(frames, roi)
    numpy.testing.assert_array_equal(classic[0], numpy.eye(3))
    numpy.testing.assert_allclose(classic[1], shift, atol=1e-4)
    # The inverse warp by the returned map gives frame 0 back exactly (whole-pixel shift).
    back = inverse_warp(frames[1], classic[1].round(), 320, 240)
    valid = ~numpy.isnan(back)
    assert valid.sum() > 300 * 200
    numpy.testing.assert_array_equal(back[valid], frames[0][..., 1][valid])
    # A rotation and zoom tell the pixel-centre convention: with centres at x + 0.5 the
    # map would differ by 0.5 * (A - I), over 0.07 pixels at these corners.
    enhanced, _ = lumet.register(frames, roi, method="enhanced")
    assert numpy.abs(mapped(enhanced[2], corners) - mapped(turn, corners)).max() < 0.02
    x, y, w, h = roi
    back = inverse_warp(frames[2], enhanced[2], 320, 240)[y:y + h, x:x + w]
    assert numpy.abs(back - frames[0][y:y + h, x:x + w, 1]).mean() < 1.0


def test_any_frame_is_the_reference():
    scene = smooth_scene(11)
    roi = (140, 90, 80, 60)
    shifts = [(0, 0), (1.5, -1), (-2, 0.5), (0.5, 2), (2.5, 1.5)]
    moves = [numpy.array([[1, 0, dx], [0, 1, dy], [0, 0, 1]], float) for dx, dy in shifts]
    frames = [frame_of(scene, m) for m in moves]
    # The enhanced registration, which is exact enough on this smooth texture to tell a frame's
    # move from another's.
    h, errors = lumet.register(frames, roi, method="enhanced", reference=2)
    # Indexed by frame number, the identity at the reference; [k] takes the reference's
    # positions to frame k's: frame k's move after undoing the reference's.
    numpy.testing.assert_array_equal(h[2], numpy.eye(3))
    assert (errors[2] == 0).all() and (errors[[0, 1, 3, 4], 1] > 0).all()
    for k in (0, 1, 3, 4):
        numpy.testing.assert_allclose(h[k], moves[k] @ numpy.linalg.inv(moves[2]), atol=0.05)
    # The result is the reference's view: the same from its homographies, and not frame 0's.
    h, _ = lumet.register(frames, roi, reference=2)
    hr = lumet.super_resolve(frames, roi, scale=2, reference=2)
    numpy.testing.assert_array_equal(lumet.reconstruct(frames, h, roi, scale=2, reference=2), hr)
    assert not numpy.array_equal(hr, lumet.super_resolve(frames, roi, scale=2))
    with pytest.raises(ValueError, match=r"reference=5 is not one of the frames 0 \.\. 4"):
        lumet.register(frames, roi, reference=5)



def test_a_single_file_is_one_frame(tmp_path):
    image = numpy.full((4, 6, 3), 77, dtype=numpy.uint8)
    lumet.write_image(str(tmp_path / "still.png"), image)
    frames = lumet.read_frames(str(tmp_path / "still.png"))
    assert frames.shape == (1, 4, 6, 3)
    numpy.testing.assert_array_equal(frames[0], image)


def test_a_window_around_any_reference_and_every_frame_are_the_video_commands_frames(tmp_path):
    scene = smooth_scene(11)
    roi = (140, 90, 80, 60)
    shifts = [(0, 0), (1.5, -1), (-2, 0.5), (0.5, 2), (2.5, 1.5)]
    frames = [frame_of(scene, numpy.array([[1, 0, dx], [0, 1, dy], [0, 0, 1]], float)) for dx, dy in shifts]
    for k, frame in enumerate(frames):
        lumet.write_image(str(tmp_path / f"lr-{k}.bmp"), frame)
    done = cli(tmp_path, "video", "./lr-%d.bmp", "./sr/sr-%d.bmp", "--radius", "1", "--scale", "2",
               "--roi", "140,90,80,60", "--first", "2", "--last", "4")
    assert done.returncode == 0, done.stderr
    for k in (2, 4):  # frames 1 .. 3, and 3 .. 4 at the clip's end
        hr = lumet.super_resolve(frames, roi, scale=2, reference=k, radius=1)
        numpy.testing.assert_array_equal(hr, lumet.read_frames(str(tmp_path / "sr" / f"sr-{k}.bmp"))[0])
    with pytest.raises(ValueError, match=r"radius=0: a window needs radius 1 or more"):
        lumet.super_resolve(frames, roi, scale=2, reference=2, radius=0)

    # The whole clip, one output frame at a time, from the files read forward or from the frames.
    video = lumet.super_resolve_video(str(tmp_path / "lr-%d.bmp"), roi, scale=2, radius=1, first=2)
    assert len(video) == 3
    made = list(video)
    assert len(made) == 3 and len(video) == 0
    for k, hr in zip(range(2, 5), made):
        numpy.testing.assert_array_equal(hr, lumet.read_frames(str(tmp_path / "sr" / f"sr-{k}.bmp"))[0])
    from_frames = lumet.super_resolve_video(frames, roi, scale=2, radius=1, first=3, last=3)
    numpy.testing.assert_array_equal(next(from_frames), made[1])
    with pytest.raises(StopIteration):
        next(from_frames)
    whole = next(lumet.super_resolve_video(frames[:2], scale=2, radius=1))
    assert whole.shape == (2 * frames[0].shape[0], 2 * frames[0].shape[1], 3)
    with pytest.raises(ValueError, match=r"first=2, last=7: not within the clip's frames 0 \.\. 4"):
        lumet.super_resolve_video(frames, roi, scale=2, first=2, last=7)
    with pytest.raises(OSError, match=r"found 0 frames \(no .*none-0.bmp\)"):
        lumet.super_resolve_video(str(tmp_path / "none-%d.bmp"), roi, scale=2)

    # The enhanced method: each frame started from the one before it, as the command line
    # does by default (windows of five, where frames are held out to stop on); warm_start=False
    # makes every frame from its own window alone.
    more = [(0, 0), (1.5, -1), (-2, 0.5), (0.5, 2), (2.5, 1.5), (-1, -1.5), (1, 0.5)]
    clip = [frame_of(scene, numpy.array([[1, 0, dx], [0, 1, dy], [0, 0, 1]], float)) for dx, dy in more]
    for k, frame in enumerate(clip):
        lumet.write_image(str(tmp_path / f"clip-{k}.bmp"), frame)
    done = cli(tmp_path, "video", "./clip-%d.bmp", "./warm/sr-%d.bmp", "--radius", "2", "--scale", "2",
               "--roi", "140,90,80,60", "--method", "enhanced")
    assert done.returncode == 0, done.stderr
    warm = list(lumet.super_resolve_video(clip, roi, scale=2, method="enhanced"))
    cold = list(lumet.super_resolve_video(clip, roi, scale=2, method="enhanced", warm_start=False))
    for k in range(len(clip)):
        numpy.testing.assert_array_equal(warm[k], lumet.read_frames(str(tmp_path / "warm" / f"sr-{k}.bmp"))[0])
    numpy.testing.assert_array_equal(cold[3], lumet.super_resolve(clip, roi, scale=2, reference=3, radius=2,
                                                                  method="enhanced"))
    assert any(w.tobytes() != c.tobytes() for w, c in zip(warm, cold))  # the warm start took part


def test_video_output_frames_keep_the_frames_sample_type(tmp_path):
    scene = smooth_scene(5)
    roi = (140, 90, 80, 60)
    shifts = [(0, 0), (1.5, -1), (-2, 0.5), (0.5, 2)]
    frames = [frame_of(scene, numpy.array([[1, 0, dx], [0, 1, dy], [0, 0, 1]], float)) for dx, dy in shifts]
    deep = [f.astype(numpy.uint16) * 257 + 40 for f in frames]
    for k, frame in enumerate(deep):
        lumet.write_image(str(tmp_path / f"deep-{k}.png"), frame)
    from_files = list(lumet.super_resolve_video(str(tmp_path / "deep-%d.png"), roi, scale=2, radius=1))
    from_arrays = list(lumet.super_resolve_video(deep, roi, scale=2, radius=1))
    assert all(f.dtype == numpy.uint16 for f in from_files + from_arrays)
    for a, b in zip(from_files, from_arrays):
        numpy.testing.assert_array_equal(a, b)
    # Its 16 bits over 257 are the 8-bit output frame of the same estimate.
    as8 = next(lumet.super_resolve_video(deep, roi, scale=2, radius=1, dtype=numpy.uint8))
    numpy.testing.assert_array_equal(as8, from_arrays[0] // 257)
    as_float = next(lumet.super_resolve_video(frames, roi, scale=2, radius=1, dtype=numpy.float32))
    assert as_float.dtype == numpy.float32 and 0.0 <= as_float.min() and as_float.max() <= 1.0
    assert next(lumet.super_resolve_video(frames, roi, scale=2, radius=1)).dtype == numpy.uint8
    with pytest.raises(ValueError, match="dtype must be None, numpy.uint8, numpy.uint16 or numpy.float32"):
        lumet.super_resolve_video(frames, roi, scale=2, dtype=numpy.int32)


def test_pixel_homographies_with_opencv():
    cv2 = pytest.importorskip("cv2")
    scene = smooth_scene(3)
    shift = numpy.array([[1, 0, -2], [0, 1, 4], [0, 0, 1]], float)
    frames = [frame_of(scene, h) for h in (numpy.eye(3), shift)]
    homographies, _ = lumet.register(frames, (140, 90, 80, 60))
    back = cv2.warpPerspective(frames[1], homographies[1], (320, 240), flags=cv2.WARP_INVERSE_MAP)
    numpy.testing.assert_array_equal(back[20:200, 20:280], frames[0][20:200, 20:280])


def test_frames_as_any_sequence_or_iterable(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=5)
    roi = (160, 100, 40, 40)
    expected = lumet.register(frames, roi)[0]
    for what, given in [("list", list(frames)), ("tuple", tuple(frames)), ("generator", (f for f in frames)),
                        ("map", map(numpy.ascontiguousarray, frames)), ("iterator", iter(list(frames)))]:
        numpy.testing.assert_array_equal(lumet.register(given, roi)[0], expected, err_msg=what)
    hr = lumet.super_resolve((f for f in frames), roi)
    numpy.testing.assert_array_equal(hr, lumet.super_resolve(frames, roi))
    # An iterator that fills one buffer again for every frame (as some video readers do).
    def refilled():
        buffer = numpy.empty_like(frames[0])
        for f in frames:
            buffer[...] = f
            yield buffer
    numpy.testing.assert_array_equal(lumet.register(refilled(), roi)[0], expected)
    # The frames of an array, a list or a tuple are read from the caller's arrays, which
    # stay as they were and are let go of after the call.
    given = [f.copy() for f in frames]
    before = [sys.getrefcount(f) for f in given]
    numpy.testing.assert_array_equal(lumet.register(given, roi)[0], expected)
    assert [sys.getrefcount(f) for f in given] == before
    numpy.testing.assert_array_equal(numpy.stack(given), frames)
    stacked = frames.copy()
    before = sys.getrefcount(stacked)
    numpy.testing.assert_array_equal(lumet.super_resolve(stacked, roi), hr)
    assert sys.getrefcount(stacked) == before
    numpy.testing.assert_array_equal(stacked, frames)
    with pytest.raises(ValueError, match=r"frames\[2\] holds float64"):
        lumet.register((f if k != 2 else f / 255.0 for k, f in enumerate(frames)), roi)
    with pytest.raises(TypeError, match="not int"):
        lumet.register(5, roi)


def test_threads_and_memory_limit_hold_for_one_call(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6)
    roi = (160, 100, 40, 40)
    expected = lumet.super_resolve(frames, roi)
    for threads in (1, 2, 0, None):
        numpy.testing.assert_array_equal(lumet.super_resolve(frames, roi, threads=threads), expected,
                                         err_msg=f"threads={threads}")
    for limit in ("1M", 1 << 20):
        with pytest.raises(ValueError) as raised:
            lumet.super_resolve(frames, roi, memory_limit=limit)
        words = str(raised.value)
        assert "more than the memory limit of 1 MiB (memory_limit=)" in words and "--" not in words, words
    # The next call has the default limit again.
    numpy.testing.assert_array_equal(lumet.super_resolve(frames, roi), expected)
    numpy.testing.assert_array_equal(lumet.super_resolve(frames, roi, memory_limit="1.5G", threads=1), expected)
    numpy.testing.assert_array_equal(
        lumet.reconstruct(frames, lumet.register(frames, roi, threads=1)[0], roi, memory_limit=10 ** 9), expected)
    refusals = [(dict(threads=-1), ValueError, "threads=-1 is out of range"),
                (dict(threads=2000), ValueError, "threads=2000 is out of range"),
                (dict(threads=1.5), TypeError, "threads must be a whole number"),
                (dict(memory_limit="lots"), ValueError, 'memory size "lots" is not a size'),
                (dict(memory_limit=0), ValueError, "memory_limit=0 is out of range"),
                (dict(memory_limit=True), TypeError, "memory_limit must be")]
    for keywords, error, words in refusals:
        with pytest.raises(error, match=words):
            lumet.super_resolve(frames, roi, **keywords)


def test_signatures_show_the_keywords_and_their_defaults(chart):
    Parameter = inspect.Parameter
    calls = {lumet.super_resolve: ["frames", "roi", "scale", "method"],
             lumet.register: ["frames", "roi", "method"],
             lumet.reconstruct: ["frames", "homographies", "roi", "scale", "method"]}
    for call, positional in calls.items():
        signature = inspect.signature(call)
        params = signature.parameters
        kinds = {p.kind for p in params.values()}
        assert Parameter.VAR_KEYWORD not in kinds and Parameter.VAR_POSITIONAL not in kinds, call.__name__
        assert [n for n, p in params.items() if p.kind == Parameter.POSITIONAL_OR_KEYWORD] == positional
        every = set(lumet.PARAMETERS) - {"roi", "scale", "method"} | {"channel_order", "progress", "threads"}
        assert every <= {n for n, p in params.items() if p.kind == Parameter.KEYWORD_ONLY}, call.__name__
        assert params["channel_order"].default == "RGB" and params["threads"].default is None
        assert params["psf_sigma"].default == 0.6 and params["ransac"].default == (20, 25)
        assert params["lr_count"].default is None and params["lambda_"].default == 0.003
        assert params["psf_check"].default is True
    assert "units" in inspect.signature(lumet.register).parameters
    assert "memory_limit" in inspect.signature(lumet.reconstruct).parameters
    assert str(inspect.signature(lumet.read_frames)) == "(pattern, start=0, count=None, *, channel_order='RGB', dtype=None)"
    assert str(inspect.signature(lumet.write_image)) == ("(path, image, *, channel_order='RGB', icc_profile=None, "
                                                         "exif=None)")
    # The defaults shown are the engine's: passing them all changes nothing.
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=5)
    signature = inspect.signature(lumet.super_resolve)
    defaults = {n: p.default for n, p in signature.parameters.items() if p.default is not Parameter.empty}
    numpy.testing.assert_array_equal(lumet.super_resolve(frames, (160, 100, 40, 40), **defaults),
                                     lumet.super_resolve(frames, (160, 100, 40, 40)))
    assert "Registers frames" in lumet.super_resolve.__doc__


def test_stub_matches_the_signatures():
    import ast
    stub = os.path.join(os.path.dirname(lumet.__file__), "lumet.pyi")
    with open(stub, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    declared = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert set(declared) == {"super_resolve", "super_resolve_video", "register", "reconstruct", "read_frames",
                             "write_image", "read_metadata"}
    for name, node in declared.items():
        args = node.args
        positional = [a.arg for a in args.args]
        defaults = [None] * (len(positional) - len(args.defaults)) + [ast.literal_eval(d) for d in args.defaults]
        stub_params = list(zip(positional, defaults)) + [
            (a.arg, None if d is None else ast.literal_eval(d)) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
        signature = inspect.signature(getattr(lumet, name))
        module_params = [(n, None if p.default is inspect.Parameter.empty else p.default)
                         for n, p in signature.parameters.items()]
        assert stub_params == module_params, name


def test_float_frames_beyond_white_are_kept(chart):
    """float32 frames are scene-linear: the enhanced method keeps values above 1 (a scene
    brighter than white) and gives them back in a float32 result; classic reads them clamped."""
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=6)
    roi = (160, 100, 40, 40)
    keywords = dict(lr_count=4, method="enhanced", iterations=8)
    bright = frames.astype(numpy.float32) / 255 * 1.6
    clipped = numpy.minimum(bright, 1.0)
    result = lumet.super_resolve(bright, roi, **keywords)
    from_clipped = lumet.super_resolve(clipped, roi, **keywords)
    assert result.dtype == numpy.float32 and result.max() > 1.2
    # The highlights stay: well above what the frames clipped at white give.
    assert numpy.percentile(result, 99) > numpy.percentile(from_clipped, 99) + 0.1
    # The estimate of the bright frames is that of the frames themselves, 1.6 times as bright
    # (to within the noise model's and the regulariser's dependence on the levels: 0.03).
    plain = lumet.super_resolve(frames.astype(numpy.float32) / 255, roi, **keywords)
    assert numpy.abs(result - 1.6 * plain).mean() < 0.06
    # Classic and registration read the clamped 8-bit levels: the same as the clipped frames.
    assert lumet.super_resolve(bright, roi, lr_count=4, dtype=numpy.uint8).tobytes() == \
        lumet.super_resolve(clipped, roi, lr_count=4, dtype=numpy.uint8).tobytes()
