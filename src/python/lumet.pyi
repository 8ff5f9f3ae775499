"""Multi-frame super-resolution of image sequences held in numpy arrays (see help(lumet))."""

from typing import Callable, Iterable, Literal, Optional, Tuple, Union

import numpy
import numpy.typing

Image = numpy.typing.NDArray[numpy.uint8]
# An (N, H, W, 3) array, or a list, tuple, generator or any iterable of (H, W, 3) arrays.
Frames = Union[Image, Iterable[Image]]
Roi = Tuple[int, int, int, int]
Progress = Optional[Callable[[str, int, int], object]]
ChannelOrder = Literal["RGB", "BGR"]
# "pixel": H maps frame 0's pixel positions to frame k's, pixel centres at whole numbers, as
# cv2.findHomography gives and cv2.warpPerspective(..., flags=cv2.WARP_INVERSE_MAP) takes it.
# "file": the homography files' numbers (h13, h23 / 600; h31, h32 * 600).
Units = Literal["pixel", "file"]
# Bytes, or a text such as "700M" or "1.5G".
MemoryLimit = Optional[Union[int, str]]

PARAMETERS: Tuple[str, ...]

def super_resolve(
    frames: Frames,
    roi: Roi,
    scale: int = 4,
    method: str = "classic",
    *,
    channel_order: ChannelOrder = "RGB",
    progress: Progress = None,
    threads: Optional[int] = None,
    memory_limit: MemoryLimit = None,
    reference: int = 0,
    lr_count: Optional[int] = None,
    psf_sigma: float = 0.6,
    alpha: float = 0.7,
    beta: float = 1.0,
    lambda_: float = 0.003,
    filter_sigma: float = 1.5,
    ransac: Tuple[int, int] = (20, 25),
    sad_size: int = 32,
    search_area: int = 40,
    start_index: int = 0,
    iterations: int = 60,
    tolerance: float = 0.0001,
) -> Image:
    """The HR image of the ROI, (h * scale, w * scale, 3) uint8 in channel_order, as `lumet-cli run` makes it."""

def register(
    frames: Frames,
    roi: Roi,
    method: str = "classic",
    *,
    units: Units = "pixel",
    channel_order: ChannelOrder = "RGB",
    progress: Progress = None,
    threads: Optional[int] = None,
    reference: int = 0,
    lr_count: Optional[int] = None,
    psf_sigma: float = 0.6,
    alpha: float = 0.7,
    beta: float = 1.0,
    lambda_: float = 0.003,
    filter_sigma: float = 1.5,
    ransac: Tuple[int, int] = (20, 25),
    sad_size: int = 32,
    search_area: int = 40,
    start_index: int = 0,
    iterations: int = 60,
    tolerance: float = 0.0001,
) -> Tuple[numpy.typing.NDArray[numpy.float64], numpy.typing.NDArray[numpy.float64]]:
    """(homographies (lr_count + 1, 3, 3), errors (lr_count + 1, 2)), indexed by frame number:
    homographies[reference] is the identity, homographies[k] maps the reference's positions to frame k's."""

def reconstruct(
    frames: Frames,
    homographies: numpy.typing.ArrayLike,
    roi: Roi,
    scale: int = 4,
    method: str = "classic",
    *,
    units: Units = "pixel",
    channel_order: ChannelOrder = "RGB",
    progress: Progress = None,
    threads: Optional[int] = None,
    memory_limit: MemoryLimit = None,
    reference: int = 0,
    lr_count: Optional[int] = None,
    psf_sigma: float = 0.6,
    alpha: float = 0.7,
    beta: float = 1.0,
    lambda_: float = 0.003,
    filter_sigma: float = 1.5,
    ransac: Tuple[int, int] = (20, 25),
    sad_size: int = 32,
    search_area: int = 40,
    start_index: int = 0,
    iterations: int = 60,
    tolerance: float = 0.0001,
) -> Image:
    """The HR image of the ROI from frames and their homographies (as register returns them,
    or as cv2.findHomography gives them: any scale, float32 or float64)."""

def read_frames(pattern: str, start: int = 0, count: Optional[int] = None, *,
                channel_order: ChannelOrder = "RGB") -> Image:
    """Frames of a numbered file pattern or a video, (N, H, W, 3) uint8 in channel_order."""

def write_image(path: str, image: Image, *, channel_order: ChannelOrder = "RGB") -> None:
    """Writes an (H, W, 3) uint8 image (in channel_order) as .bmp, .png or .tif (by the name's extension)."""
