#!/usr/bin/env python3
"""Drives libvornik through its flat C interface with ctypes.

Sets the database directories, adds a group file, plays a numbered image
sequence (or a video) as the camera and reads the tracking result while the
library's own threads run, like a game-engine binding would.

    python3 examples/python/track_frames.py [--lib build/src/api/libvornik.so]
        [--group build/demo/sample.grp] [--source build/demo/frames/frame_%05d.jpg]
        [--seconds 6]

The defaults match the output of `bash scripts/demo.sh`. The camera source
needs the capture plug-in (libvornik_capture.so) next to the library.
"""
import argparse
import ctypes
import os
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def load_library(path):
    lib = ctypes.CDLL(path)
    text = ctypes.c_char_p
    signatures = {
        "setAppDataDirPath": [text],
        "setArdbAssetDirPath": [text],
        "addTrackableGroup": [text],
        "setCameraSource": [text],
        "startCamera": [ctypes.c_int, ctypes.c_int],
        "stopCamera": [],
        "startTracker": [],
        "stopTracker": [],
        "getCameraPreviewSize": [ctypes.POINTER(ctypes.c_int)],
        "getTrackableCount": [],
        "getTrackableInfo": [ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(ctypes.c_float),
                             ctypes.POINTER(ctypes.c_float)],
        "getProjectionMatrix": [ctypes.POINTER(ctypes.c_float)],
        "updateRendering": [ctypes.c_int, ctypes.c_int],
    }
    for name, arguments in signatures.items():
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = ctypes.c_int if name == "getTrackableCount" else None
    return lib


def project(pose, width, height, frame_width, frame_height):
    """Frame position of the target centre: pose column-major, translation in
    target pixels, focal length = frame width, principal point at the centre."""
    x, y, z = pose[12], pose[13], pose[14]
    if z <= 0:
        return None
    return (frame_width * x / z + frame_width // 2, frame_width * y / z + frame_height // 2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lib", default=os.path.join(ROOT, "build/src/api/libvornik.so"))
    parser.add_argument("--group", default=os.path.join(ROOT, "build/demo/sample.grp"))
    parser.add_argument("--source", default=os.path.join(ROOT, "build/demo/frames/frame_%05d.jpg"))
    parser.add_argument("--seconds", type=float, default=6.0)
    parser.add_argument("--size", default="640x480", help="requested camera size WxH")
    args = parser.parse_args()

    for path, what in ((args.lib, "library"), (args.group, "group file")):
        if not os.path.isfile(path):
            sys.exit(f"track_frames.py: {what} {path} not found (run bash scripts/demo.sh first)")
    width, height = (int(v) for v in args.size.split("x"))

    lib = load_library(args.lib)
    appdata = tempfile.mkdtemp(prefix="vornik-python-")
    lib.setAppDataDirPath(appdata.encode())
    lib.setArdbAssetDirPath(os.path.dirname(os.path.abspath(args.group)).encode())
    lib.addTrackableGroup(os.path.basename(args.group).encode())
    lib.setCameraSource(args.source.encode())
    lib.startCamera(width, height)
    lib.startTracker()
    lib.updateRendering(width, height)

    size = (ctypes.c_int * 2)()
    pose = (ctypes.c_float * 16)()
    target_size = (ctypes.c_float * 2)()
    identifier = ctypes.create_string_buffer(34)
    tracked = polls = 0
    last_id = None
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        time.sleep(1 / 30)
        polls += 1
        count = lib.getTrackableCount()
        if count == 0:
            if last_id is not None:
                print(f"{time.monotonic() - end + args.seconds:6.2f}s  lost {last_id}")
            last_id = None
            continue
        lib.getTrackableInfo(0, identifier, pose, target_size)
        tracked += 1
        lib.getCameraPreviewSize(size)
        name = identifier.value.decode(errors="replace")
        if name != last_id or tracked % 30 == 1:
            centre = project(list(pose), target_size[0], target_size[1], size[0], size[1])
            where = f"centre at ({centre[0]:.1f}, {centre[1]:.1f})" if centre else "behind camera"
            print(f"{time.monotonic() - end + args.seconds:6.2f}s  {name}: target "
                  f"{target_size[0]:.0f}x{target_size[1]:.0f} px, depth {pose[14]:.0f}, {where} "
                  f"in the {size[0]}x{size[1]} frame")
        last_id = name

    projection = (ctypes.c_float * 16)()
    lib.getProjectionMatrix(projection)
    lib.stopTracker()
    lib.stopCamera()
    print(f"polled {polls} times, a target was tracked at {tracked} of them")
    print("projection matrix (column-major):", " ".join(f"{v:.3f}" for v in projection))
    return 0 if tracked > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
