#pragma once

// The docstrings of the module `lumet`. The module puts each function's signature before
// its text (the stub lumet.pyi repeats them).
namespace lumet::python {

inline constexpr const char* kModuleDoc = R"(Multi-frame super-resolution of image sequences held in numpy arrays.

Frames are colour images, an (N, H, W, 3) array, or grey ones, (N, H, W) or (N, H, W, 1)
(each sample all three channels; the result comes back grey), or a list, tuple, generator
or any iterable of such images, row 0 at the top, C-contiguous, of uint8, uint16 (16-bit
samples) or float32 samples (scene-linear, 1.0 the nominal white; values beyond 0 .. 1 are
kept at depth, not a number or infinity is 0); channel 0 red, or blue with
channel_order="BGR" (as OpenCV holds images), which every call that takes or returns
images accepts, returning its images in the same order. Frame 0 is the reference; frames 1 .. N-1
are registered onto it, and the high-resolution (HR) image of a region of interest (ROI)
of frame 0 is reconstructed, `scale` times larger each way. The results are those of
`lumet-cli run` with the same frames and parameters, byte for byte.
Registration and the classic method read every frame at 8 bits (uint16 samples rounded to
the nearest 8-bit level, floats times 255 rounded); the enhanced method, when frame 0 is
uint16 or float32, reads the samples themselves (v / 257, v * 255 grey levels). Results
come back in frame 0's sample type unless dtype= says another: uint8 the result files'
levels, uint16 their 16 bits (samples // 257 are those levels), float32 the estimate / 255,
clamped to 0 .. 1 unless frame 0 is float32 (values beyond white then kept).
Arrays, lists and tuples are read where they lie while the call runs (no copy of every
frame is made): leave them unchanged until it returns. A generator's frames are copied as
they come.

Grid: the HR image covers the ROI (x0, y0, w, h); LR pixel (x, y) of frame 0 has its
centre at HR position (s * (x - x0), s * (y - y0)). Common resamplers (OpenCV `resize`,
PIL `Image.resize`) put it at s * (x - x0) + (s - 1) / 2 instead, (s - 1) / 2 HR pixels
down and right. To compare with such an image c, move it onto this grid first, e.g.
`cv2.warpAffine(c, numpy.float32([[1, 0, -(s - 1) / 2], [0, 1, -(s - 1) / 2]]), (w * s, h * s))`,
or for s = 3 compare hr[:-1, :-1] with c[1:, 1:]; without it a comparison loses several dB.

Parameters are keyword arguments named as the command line's options with "_" for "-"
(inspect.signature shows them with their defaults; None is the default too):
lr_count (frames 1 .. lr_count are registered; default: every frame given after frame 0),
roi=(x, y, w, h), scale (2, 3 or 4), psf_sigma, alpha, beta, lambda_ (or **{"lambda": v}),
filter_sigma, ransac=(U, N), sad_size, search_area, start_index (frame k is frames[start_index + k]),
method ("classic" or "enhanced"), iterations, tolerance, psf_check (True or False); their
ranges and defaults are those of `lumet-cli params --help`. A value out of range raises ValueError naming the
keyword ("psf_sigma=7.0 is out of range ..."). threads (None or 0: every core) and
memory_limit (bytes, or a text such as "1.5G"; a larger reconstruction is refused with
ValueError naming its need) hold for that call only; the results are the same for every
thread count.

Every call computes on a thread of its own with the GIL released; `progress(stage, step,
total)` is called as it goes. Ctrl+C raises KeyboardInterrupt within a twentieth of a
second; the command stops by itself at its next cancel point, and the next call waits for it.
Warnings (frames without a homography search, ...) are issued as RuntimeWarning, one per
kind, naming the frames, attributed to the calling line; their advice and the error
messages name keywords (sad_size=12), not the command line's options.

Homographies are in pixel units by default: H = homographies[k] takes a position (x, y)
of frame 0 to frame k's, pixel centres at whole numbers as in OpenCV, so
cv2.warpPerspective(frames[k], H, (width, height), flags=cv2.WARP_INVERSE_MAP) lines frame k up
with frame 0; units="file" gives and takes the homography files' units instead.)";

inline constexpr const char* kSuperResolveDoc = R"(Registers frames 1 .. lr_count onto frame 0 and reconstructs the HR image of the ROI:
an (h * scale, w * scale, 3) array (in channel_order, of dtype), identical to what `lumet-cli run` writes
for the same frames and parameters (uint8: the BMP result; uint16: the 16-bit PNG or TIFF one). The classic reconstruction uses frames 0 .. lr_count - 1,
the enhanced one frames 0 .. lr_count.
reference=k makes frame k the reference of the others. With radius=R the frames are
k - R .. k + R of those given (clipped to them, lr_count aside), every one of them registered
and used: output frame k of `lumet-cli video ... --radius R` (the enhanced method's PSF
checked, as there, on the first nine frames given).

frames: (N, H, W, 3) uint8, uint16 or float32 array, or a sequence or iterable of (H, W, 3) ones;
grey frames, (N, H, W) or (N, H, W, 1) (or such images), give a grey result of that form.
roi: (x, y, w, h) in frame 0's pixels, inside the frame.
dtype: None (frame 0's sample type), numpy.uint8, numpy.uint16 or numpy.float32: the result's.
scale: 2, 3 or 4.  method: "classic" or "enhanced".
channel_order: "RGB" or "BGR", of the frames and of the result.
threads: None or 0 for every core, else the number of threads of this call.
memory_limit: the most memory this call's reconstruction may take: bytes, or "700M", "1.5G".
progress: None or a callable progress(stage: str, step: int, total: int); an exception
it raises stops the call and is raised again.)";

inline constexpr const char* kSuperResolveVideoDoc = R"(Super-resolves every frame of a clip from its neighbours: an iterator over the output
frames first .. last, each an (h * scale, w * scale, 3) array (in channel_order), made
when it is asked for: of frame 0's sample type (uint8; uint16 from 16-bit files, 10-, 12- or
16-bit video and uint16 frames; float32 from float files and frames), or of dtype=
(numpy.uint8, numpy.uint16 or numpy.float32) as super_resolve gives it. Output frame k is the ROI of frame k reconstructed with frame k as the
reference of frames k - radius .. k + radius (clipped to the clip): frame k of
`lumet-cli video ... --radius R`. Each pair of frames is registered once. With the enhanced
method and psf_check=True, the PSF is checked once, on the clip's first nine frames, and
every output frame is made through the one chosen.

frames: a path (a frame pattern such as "images/lr-%d.png", or a video file), read forward
one window at a time, so the clip never has to fit in memory; or the frames themselves, as
super_resolve takes them. start: the number of a pattern's frame 0.
roi: (x, y, w, h) in the frames' pixels; None (the default) for the whole frame.
scale: 2, 3 or 4.  method: "classic" or "enhanced".  radius: 1 or more.
first, last: the output frames, counted from 0 (last=None: the clip's last).
warm_start: with the enhanced method, start each output frame's solve from the previous
one's estimate carried onto its grid (every 16th frame starts afresh, and a frame asked for
alone is made from the one before it, so a frame is the same whichever came first), as
`lumet-cli video` does by default; False: every frame from its own window's median.
The other keywords are super_resolve's.)";

inline constexpr const char* kRegisterDoc = R"(Registers frames 1 .. lr_count onto frame 0 over the ROI; returns (homographies, errors).

homographies: (lr_count + 1, 3, 3) float64, indexed by frame number: homographies[0] is
the identity and H = homographies[k] takes a pixel position of frame 0 to frame k,
(x', y') = project(H @ (x, y, 1)), pixel centres at whole numbers as in OpenCV; so
cv2.warpPerspective(frames[k], H, (width, height), flags=cv2.WARP_INVERSE_MAP) lines
frame k up with frame 0, and a frame whose content lies (dx, dy) pixels further right and
down than frame 0's has H = [[1, 0, dx], [0, 1, dy], [0, 0, 1]]. h33 = 1.
units="file": the homography files' numbers instead, (x', y') = 600 * project(H @ (x / 600,
y / 600, 1)), each rounded to six significant digits as the files hold it; the pixel
units are these numbers converted (h13, h23 times 600, h31, h32 divided by 600).
errors: (lr_count + 1, 2) float64; errors[k] = (e1, e2), the ROI's mean absolute green
difference after the homography search (99999.9 when there was none) and after the
refinement, the numbers of the command line's `MAE(k) = e1->e2`; errors[0] is (0, 0).)";

inline constexpr const char* kReconstructDoc = R"(Reconstructs the HR image of the ROI from frames and their homographies (as register
returns them: homographies[k] takes frame 0 to frame k; homographies[0] is not used):
an (M, 3, 3) array or a sequence of 3 x 3 ones, float32 or float64, at any scale, in
pixel units as cv2.findHomography gives them, or in the files' units with units="file".
Each homography is first divided by its h33, put in the files' units and rounded to six
significant digits, as its file would hold it, so register followed by reconstruct (with
the same units) gives super_resolve's result, byte for byte.
Returns an (h * scale, w * scale, 3) array in channel_order, of dtype as super_resolve's.)";

inline constexpr const char* kReadFramesDoc = R"(read_frames(pattern, start=0, count=None, *, channel_order='RGB', dtype=None)
--

Reads frames through the engine's own readers: the files a numbered pattern names
("images/lr-%d.bmp", "shots/f%04d.png"; BMP, PNG, JPEG, TIFF, OpenEXR and the other still
formats) from number `start`, or a video file (a pattern without "%") from frame `start`.
count=None reads every consecutive frame found. Returns an (N, H, W, 3) array, channel 0
red ("RGB") or blue (channel_order="BGR"), of uint8 samples (dtype=None: each file's 8-bit
values) or of dtype: numpy.uint16 (16-bit files as they are, 8-bit levels times 257) or
numpy.float32 (0 .. 1 the nominal range: OpenEXR and float TIFF files as they are, their
values beyond 0 .. 1 kept, within a float's rounding; 16-bit samples over 65535, 8-bit
levels over 255).
A missing first frame raises FileNotFoundError naming the file (and the start number that
would find the files when there is one); an unreadable file OSError.)";

inline constexpr const char* kWriteImageDoc = R"(write_image(path, image, *, channel_order='RGB', icc_profile=None, exif=None)
--

Writes an (H, W, 3) uint8 image (channel 0 red, or blue with channel_order="BGR") through the engine's writers: .bmp (24-bit), .png
(8 bits per channel) or .tif (16 bits per channel, each sample * 257), chosen by the
name's extension, or .exr (OpenEXR, 32-bit floats, each sample / 255). A uint16 image is
written as it is, 16 bits per channel, as .png or .tif (not .bmp, which holds 8 bits); a
float32 image as it is (1.0 the nominal white, values beyond 0 .. 1 kept) as .exr or a 32-bit
float .tif, a float16 one as it is, half floats, as .exr. icc_profile (bytes: a whole ICC
profile of RGB samples) goes into a .png's iCCP chunk or a .tif's ICC tag, exif (bytes: a TIFF-structured EXIF block, as after a JPEG's
"Exif\0\0") into a .png's eXIf chunk, both unchanged, or into a .tif as its own EXIF and GPS
directories and camera tags; a format that cannot hold what is given (a .tif an EXIF
thumbnail) raises ValueError. The file is written whole or not at all; failures raise OSError.)";

inline constexpr const char* kReadMetadataDoc = R"(read_metadata(path)
--

The ICC profile and EXIF of a still file as a dict {"icc_profile": bytes or None, "exif":
bytes or None}, the bytes as the file holds them (a JPEG's profile chunks put together in
order), ready for write_image(..., icc_profile=, exif=), so a result can carry frame 0's:
    meta = lumet.read_metadata("images/lr-0.jpg")
    lumet.write_image("hr.png", hr, **meta)
Failures raise OSError naming the file.)";

}  // namespace lumet::python
