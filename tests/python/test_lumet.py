"""The Python module against the command line, and its refusals."""

import os
import signal
import subprocess
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
    homographies, errors = lumet.register(frames, roi, lr_count=8)
    assert homographies.shape == (9, 3, 3) and homographies.dtype == numpy.float64
    assert errors.shape == (9, 2)
    numpy.testing.assert_array_equal(homographies[0], numpy.eye(3))
    # The files' numbers, six significant digits.
    assert cli(chart, "register", "--lr-count", "8").returncode == 0
    for k in range(1, 9):
        text = read_file(chart / "result" / f"hr_hom-{k}.txt").split()
        numpy.testing.assert_array_equal(homographies[k].flat[:8], [float(v) for v in text])
    assert (errors[1:, 1] < 20).all() and (errors[1:, 1] > 0).all()
    # A homography scaled as a whole is the same homography.
    scaled = homographies * 2.0
    hr = lumet.reconstruct(list(frames), scaled, roi, lr_count=8)
    numpy.testing.assert_array_equal(hr, lumet.super_resolve(frames, roi, lr_count=8))


def test_frames_refused_with_what_is_accepted(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    roi = (160, 100, 40, 40)
    cases = [
        (frames[..., 0], ValueError, "looks grey"),
        (numpy.concatenate([frames, frames[..., :1]], axis=-1), ValueError, "four channels"),
        (frames.astype(numpy.uint16), ValueError, "uint16"),
        (frames.astype(numpy.float32) / 255, ValueError, "float32"),
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


def test_parameters_refused_in_the_command_lines_words(chart):
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    for option, keyword, value in [("--psf-sigma", "psf_sigma", 7.0), ("--scale", "scale", 5),
                                   ("--sad-size", "sad_size", -1), ("--roi", "roi", (0, 0, 0, 5)),
                                   ("--method", "method", "fast")]:
        text = ",".join(str(v) for v in value) if isinstance(value, tuple) else str(value)
        words = cli(chart, "params", option, text).stderr.strip()
        assert words.startswith("Error: "), words
        keywords = {"roi": (160, 100, 40, 40), keyword: value}
        with pytest.raises(ValueError) as raised:
            lumet.super_resolve(frames, **keywords)
        assert str(raised.value) == words[len("Error: "):]
    with pytest.raises(ValueError, match="fits \\(centred\\)"):
        lumet.super_resolve(frames, roi=(300, 100, 40, 40))
    for wrong in ({"lr_pattern": "x%d.bmp"}, {"psf": 1.0}):
        with pytest.raises(TypeError, match="the parameters are lr_count, roi, scale"):
            lumet.super_resolve(frames, roi=(160, 100, 40, 40), **wrong)
    with pytest.raises(TypeError):
        lumet.super_resolve(frames, roi=(160, 100, 40, 40), alpha=True)


def test_files_missing_and_written(chart, tmp_path):
    with pytest.raises(FileNotFoundError) as raised:
        lumet.read_frames(str(tmp_path / "none-%d.png"))
    assert raised.value.filename == str(tmp_path / "none-0.png")
    # Numbered from 1: the start that finds them is proposed.
    frames = lumet.read_frames(str(chart / "images" / "lr-%d.bmp"), count=3)
    for k in range(3):
        lumet.write_image(str(tmp_path / f"shot_{k + 1:04d}.png"), frames[k])
    with pytest.raises(FileNotFoundError, match="--start-index 1"):
        lumet.read_frames(str(tmp_path / "shot_%04d.png"))
    numpy.testing.assert_array_equal(lumet.read_frames(str(tmp_path / "shot_%04d.png"), start=1), frames)
    with pytest.raises(FileNotFoundError):
        lumet.read_frames(str(tmp_path / "shot_%04d.png"), start=1, count=4)
    with pytest.raises(ValueError, match=".bmp, .png and .tif"):
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
    assert len(caught) == 1
    assert issubclass(caught[0].category, RuntimeWarning)
    assert str(caught[0].message).startswith("frames 1 … 8 (8 frames): no homography search")


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
