"""Multi-frame super-resolution of image sequences held in numpy arrays (see help(lumet))."""

from typing import Callable, Optional, Sequence, Tuple, Union

import numpy
import numpy.typing

Frames = Union[numpy.typing.NDArray[numpy.uint8], Sequence[numpy.typing.NDArray[numpy.uint8]]]
Roi = Tuple[int, int, int, int]
Progress = Optional[Callable[[str, int, int], object]]

PARAMETERS: Tuple[str, ...]

def super_resolve(
    frames: Frames,
    roi: Roi,
    scale: int = 4,
    method: str = "classic",
    *,
    progress: Progress = None,
    **parameters: object,
) -> numpy.typing.NDArray[numpy.uint8]:
    """The HR image of the ROI, (h * scale, w * scale, 3) uint8 RGB, as `lumet-cli run` makes it."""

def register(
    frames: Frames,
    roi: Roi,
    method: str = "classic",
    *,
    progress: Progress = None,
    **parameters: object,
) -> Tuple[numpy.typing.NDArray[numpy.float64], numpy.typing.NDArray[numpy.float64]]:
    """(homographies (lr_count + 1, 3, 3), errors (lr_count + 1, 2)); homographies[k] takes frame 0 to frame k."""

def reconstruct(
    frames: Frames,
    homographies: numpy.typing.ArrayLike,
    roi: Roi,
    scale: int = 4,
    method: str = "classic",
    *,
    progress: Progress = None,
    **parameters: object,
) -> numpy.typing.NDArray[numpy.uint8]:
    """The HR image of the ROI from frames and their homographies (as register returns them)."""

def read_frames(pattern: str, start: int = 0, count: Optional[int] = None) -> numpy.typing.NDArray[numpy.uint8]:
    """Frames of a numbered file pattern or a video, (N, H, W, 3) uint8 RGB."""

def write_image(path: str, image: numpy.typing.NDArray[numpy.uint8]) -> None:
    """Writes an (H, W, 3) uint8 RGB image as .bmp, .png or .tif (by the name's extension)."""
