#!/usr/bin/python3
"""Peak memory a Python call adds beyond the frames the caller holds.

Makes N synthetic colour frames (a blocky texture, each frame the scene moved by a few
pixels, with a little noise), then runs lumet.super_resolve (or lumet.register followed by
lumet.reconstruct) on a small ROI and reports the process's peak resident size during the
call, less what it was just before the call (the frames included), in MiB:

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_memory.py --size 1920x1080

The peak is the kernel's VmHWM, reset just before the call (/proc/self/clear_refs), so the
making of the frames does not count. --save FILE keeps the result (numpy .npy) to compare
two builds with numpy.array_equal.
"""

import argparse
import sys

import numpy

import lumet


def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise RuntimeError(field + " not in /proc/self/status")


def reset_peak():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def make_frames(count, width, height, layout, seed):
    rng = numpy.random.default_rng(seed)
    margin = 8
    block = 8
    coarse = rng.integers(0, 256, size=((height + 2 * margin) // block + 1, (width + 2 * margin) // block + 1, 3),
                          dtype=numpy.uint8)
    scene = numpy.repeat(numpy.repeat(coarse, block, axis=0), block, axis=1)
    frames = numpy.empty((count, height, width, 3), dtype=numpy.uint8)
    for k in range(count):
        dx, dy = (k * 3) % 7 - 3, (k * 5) % 7 - 3
        frame = scene[margin + dy:margin + dy + height, margin + dx:margin + dx + width].astype(numpy.int16)
        frame += rng.integers(-2, 3, size=frame.shape, dtype=numpy.int16)
        frames[k] = numpy.clip(frame, 0, 255).astype(numpy.uint8)
    if layout == "list":
        return [numpy.ascontiguousarray(frames[k]) for k in range(count)]
    return frames


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", default="1920x1080", help="frame size WxH (default 1920x1080)")
    parser.add_argument("--frames", type=int, default=31, help="number of frames (default 31; lr_count is one less)")
    parser.add_argument("--roi", type=int, default=40, help="side of the square ROI at the frame centre (default 40)")
    parser.add_argument("--method", default="classic")
    parser.add_argument("--call", choices=("super_resolve", "register_reconstruct"), default="super_resolve")
    parser.add_argument("--layout", choices=("array", "list"), default="array",
                        help="one (N, H, W, 3) array or a list of (H, W, 3) arrays")
    parser.add_argument("--threads", type=int, default=None)
    parser.add_argument("--save", help="write the result to this .npy file")
    args = parser.parse_args()

    width, height = (int(v) for v in args.size.lower().split("x"))
    frames = make_frames(args.frames, width, height, args.layout, seed=1)
    frame_bytes = sum(f.nbytes for f in frames) if args.layout == "list" else frames.nbytes
    roi = ((width - args.roi) // 2, (height - args.roi) // 2, args.roi, args.roi)
    keywords = dict(method=args.method, lr_count=args.frames - 1, threads=args.threads)

    exact = reset_peak()
    before = status("VmRSS")
    if args.call == "super_resolve":
        hr = lumet.super_resolve(frames, roi, **keywords)
    else:
        homographies, _ = lumet.register(frames, roi, **keywords)
        hr = lumet.reconstruct(frames, homographies, roi, **keywords)
    peak = status("VmHWM")
    mib = 1 << 20
    print(f"{args.call} {args.method} {args.frames} x {width}x{height} ({args.layout}), roi {roi}, "
          f"threads {args.threads or 'all'}")
    print(f"frames {frame_bytes / mib:.1f} MiB, RSS before the call {before / mib:.1f} MiB, "
          f"peak {peak / mib:.1f} MiB{'' if exact else ' (peak not reset: includes making the frames)'}")
    print(f"added by the call: {(peak - before) / mib:.1f} MiB")
    if args.save:
        numpy.save(args.save, hr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
