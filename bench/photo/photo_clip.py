#!/usr/bin/env python3
"""A clip of 160 x 108 frames made from a photo, with the x2 truth of every frame.

    photo_clip.py PHOTO DIR [--frames N] [--blur SIGMA] [--noise SIGMA] [--seed S] [--sampling box|point]
                  [--h264 CRF]

The synthetic scenes obey the reconstruction's model more closely than a camera does: a
photo has detail at every scale, some of it finer than the frames' pixels, and no straight
edges in most places. The photo is taken as the scene at four times the frames' resolution
(its central 676 x 468 pixels, at least that large): frame k's pixel is the mean of a 4 x 4
square of photo pixels (a box pixel; with --sampling point the 2 x 2 at its centre, as a
benchmark that blurs and decimates degrades its frames), after a Gaussian blur of SIGMA LR
pixels (the optics; 0: the pixel alone), moved by the same slow drift as lumet-drifting-clip's to the nearest
quarter of a pixel, with Gaussian noise, rounded to 8 bits. DIR gets images/lr-k.bmp,
truth/truth-k.bmp (the ROI 20,20,120,80 of frame k at x2, each pixel the mean of the photo
over it, unblurred) and bicubic/bicubic-k.bmp (frame k enlarged by cubic convolution on
the same grid): the layout lumet-drifting-clip --score and bench/video/compare.sh read.
With --h264 CRF the frames then go through H.264 at that constant rate factor and back
(lumet-broken-sequence h264, found beside the lumet module's build or as LUMET_BROKEN), and
the bicubic baselines are made from the decoded frames, the ones a user of such a clip has.
"""
import argparse
import math
import os
import subprocess
import sys

import numpy as np
import lumet

WIDTH, HEIGHT = 160, 108  # LR frame
ROI = (20, 20, 120, 80)  # x, y, w, h in LR pixels
SCALE = 2
FINE = 4  # photo pixels per LR pixel
MARGIN = 36  # photo pixels left for the drift


def drift(k):
    """Where frame k sees the scene, in LR pixels (lumet-drifting-clip's drift)."""
    return 0.41 * k + 0.1 * math.sin(1.9 * k), 0.27 * k + 0.1 * math.cos(1.3 * k) - 0.1


def blurred(photo, sigma):
    """photo blurred by a Gaussian of sigma LR pixels (FINE * sigma photo pixels), edges repeated."""
    s = FINE * sigma
    r = int(math.ceil(4 * s))
    t = np.arange(-r, r + 1)
    taps = np.exp(-t * t / (2 * s * s))
    taps /= taps.sum()
    padded = np.pad(photo, ((r, r), (r, r), (0, 0)), mode="edge")
    across = sum(w * padded[:, i:i + photo.shape[1]] for i, w in enumerate(taps))
    return sum(w * across[i:i + photo.shape[0]] for i, w in enumerate(taps))


def box_means(image, size):
    h, w = image.shape[0] // size, image.shape[1] // size
    return image[:h * size, :w * size].reshape(h, size, w, size, 3).mean(axis=(1, 3))


def keys(t):
    t = np.abs(t)
    return np.where(t <= 1, 1.5 * t**3 - 2.5 * t**2 + 1, np.where(t < 2, -0.5 * t**3 + 2.5 * t**2 - 4 * t + 2, 0.0))


def bicubic(frame):
    """frame's ROI enlarged by cubic convolution (a = -0.5): HR pixel c at LR (c + x0) / SCALE."""
    def axis(first, count, size):
        u = (np.arange(SCALE * count) + SCALE * first) / SCALE
        i = np.floor(u).astype(int)
        weights = np.zeros((SCALE * count, size))
        rows = np.arange(SCALE * count)
        for o in (-1, 0, 1, 2):
            weights[rows, np.clip(i + o, 0, size - 1)] += keys(u - i - o)
        return weights
    x, y, w, h = ROI
    my, mx = axis(y, h, frame.shape[0]), axis(x, w, frame.shape[1])
    return np.stack([my @ frame[..., c] @ mx.T for c in range(3)], axis=-1)


def to_bytes(image):
    return np.clip(np.floor(image + 0.5), 0, 255).astype(np.uint8)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("photo", help="the scene, at four times the frames' resolution (at least 676 x 468 pixels)")
    parser.add_argument("dir", help="folder for images/, truth/ and bicubic/")
    parser.add_argument("--frames", type=int, default=20, help="frames of the clip, 1 to 20")
    parser.add_argument("--blur", type=float, default=0.0, help="optics' Gaussian sigma in LR pixels (0: none)")
    parser.add_argument("--noise", type=float, default=2.0, help="Gaussian noise sigma in grey levels")
    parser.add_argument("--seed", type=int, default=1, help="seed of the noise")
    parser.add_argument("--sampling", choices=("box", "point"), default="box",
                        help="box: each pixel the mean of its square; point: of the photo's 2 x 2 pixels at its centre")
    parser.add_argument("--h264", type=int, metavar="CRF",
                        help="compress the frames through H.264 at this rate factor (0 to 51) and back")
    a = parser.parse_args()
    if a.h264 is not None and not 0 <= a.h264 <= 51:
        sys.exit(f"--h264 {a.h264}: the rate factor is 0 (lossless) to 51")
    last = drift(a.frames - 1)
    if not 1 <= a.frames or round(FINE * max(last)) + 4 > MARGIN:
        sys.exit(f"--frames {a.frames}: 1 to 20 frames fit the drift's margin")
    try:
        photo = lumet.read_frames(a.photo)[0][..., :3].astype(np.float64)
    except OSError as e:
        sys.exit(f"photo_clip.py: {e}")
    need_w, need_h = FINE * WIDTH + MARGIN, FINE * HEIGHT + MARGIN
    if photo.shape[1] < need_w or photo.shape[0] < need_h:
        sys.exit(f"{a.photo}: {photo.shape[1]} x {photo.shape[0]} pixels; a clip needs at least {need_w} x {need_h}")
    top, left = (photo.shape[0] - need_h) // 2, (photo.shape[1] - need_w) // 2
    sharp = photo[top:top + need_h, left:left + need_w]
    camera = blurred(sharp, a.blur) if a.blur > 0 else sharp
    random = np.random.default_rng(a.seed)
    for sub in ("images", "truth", "bicubic"):
        os.makedirs(os.path.join(a.dir, sub), exist_ok=True)
    x, y, w, h = ROI
    for k in range(a.frames):
        dx, dy = drift(k)
        ox, oy = round(FINE * dx) + 4, round(FINE * dy) + 4  # photo pixels; the drift starts inside the margin
        if a.sampling == "box":
            frame = box_means(camera[oy:oy + FINE * HEIGHT, ox:ox + FINE * WIDTH], FINE)
        else:  # photo pixels 4x + 1 and 4x + 2 straddle the pixel's centre
            frame = box_means(camera[oy + 1:oy + FINE * HEIGHT + 1, ox + 1:ox + FINE * WIDTH + 1], 2)[::2, ::2]
        frame = to_bytes(frame + random.normal(0.0, a.noise, frame.shape)) if a.noise > 0 else to_bytes(frame)
        lumet.write_image(os.path.join(a.dir, "images", f"lr-{k}.bmp"), frame)
        # HR pixel c covers LR [(c + x0) / 2 - 1/4, + 1/4]: photo pixels 2 (c + x0) + 1 and + 2.
        f = FINE // SCALE
        x0, y0 = SCALE * x, SCALE * y
        truth = sharp[oy + f * y0 + 1:oy + f * (y0 + SCALE * h) + 1, ox + f * x0 + 1:ox + f * (x0 + SCALE * w) + 1]
        lumet.write_image(os.path.join(a.dir, "truth", f"truth-{k}.bmp"), to_bytes(box_means(truth, f)))
        lumet.write_image(os.path.join(a.dir, "bicubic", f"bicubic-{k}.bmp"), to_bytes(bicubic(frame.astype(np.float64))))
    if a.h264 is not None:
        compress(a.dir, a.frames, a.h264)


def compress(folder, frames, crf):
    """The clip's frames through H.264 and back, and bicubic of the decoded frames."""
    tool = os.environ.get("LUMET_BROKEN") or os.path.join(
        os.path.dirname(os.path.dirname(os.path.abspath(lumet.__file__))), "bin", "lumet-broken-sequence")
    try:
        subprocess.run([tool, "h264", folder, str(crf)], check=True)
    except (OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"photo_clip.py: H.264 through {tool} failed: {e}")
    for k in range(frames):
        frame = lumet.read_frames(os.path.join(folder, "images", f"lr-{k}.bmp"))[0][..., :3].astype(np.float64)
        lumet.write_image(os.path.join(folder, "bicubic", f"bicubic-{k}.bmp"), to_bytes(bicubic(frame)))


if __name__ == "__main__":
    main()
