"""Reading files as labs write them: axes, pixel size and frame interval from the metadata."""

import pickle

import numpy as np
import pytest

tifffile = pytest.importorskip("tifffile")
iio = pytest.importorskip("imageio.v3")

from tazmir.io import ImageReadError, read_image, select_planes

PIXELS = np.arange(3 * 12 * 16, dtype=np.uint16).reshape(3, 12, 16)


def ij(axes, unit="um", size=0.325, **meta):
    return dict(imagej=True, resolution=(1 / size, 1 / size),
                metadata={"axes": axes, "unit": unit, **meta})


def ome(axes, size, unit, **meta):
    return dict(ome=True, metadata={"axes": axes, "PhysicalSizeX": size, "PhysicalSizeXUnit": unit,
                                    "PhysicalSizeY": size, "PhysicalSizeYUnit": unit, **meta})


@pytest.mark.parametrize(
    "data, kwargs, axes, size, source, interval",
    [
        (PIXELS[0], ij("YX"), "YX", 0.325, "imagej", None),
        (PIXELS[0], ij("YX", unit="micron"), "YX", 0.325, "imagej", None),
        (PIXELS[0], ij("YX", unit="nm", size=325.0), "YX", 0.325, "imagej", None),
        (PIXELS, ij("TYX", finterval=2.5), "TYX", 0.325, "imagej", 2.5),
        (PIXELS, ij("CYX"), "CYX", 0.325, "imagej", None),
        (PIXELS, ome("ZYX", 325.0, "nm"), "ZYX", 0.325, "ome", None),
        (PIXELS, ome("TYX", 0.65, "µm", TimeIncrement=1500, TimeIncrementUnit="ms"), "TYX",
         0.65, "ome", 1.5),
        (PIXELS[0], dict(resolution=(2e4, 2e4), resolutionunit="CENTIMETER"), "YX", 0.5,
         "tiff-resolution", None),
        (PIXELS[0], dict(resolution=(72, 72), resolutionunit="INCH"), "YX", None, None, None),
        (np.moveaxis(PIXELS[:2], 0, -1), dict(metadata={"axes": "YXC"}), "YXC", None, None, None),
    ],
    ids=["imagej-um", "imagej-micron", "imagej-nm", "imagej-TYX", "imagej-CYX", "ome-nm-ZYX",
         "ome-um-TYX-ms", "tiff-cm", "tiff-72dpi-ignored", "shaped-YXC"],
)
def test_axes_and_calibration_come_from_the_metadata(tmp_path, data, kwargs, axes, size, source,
                                                     interval):
    tifffile.imwrite(tmp_path / "a.tif", data, **kwargs)
    for lazy in (False, True):
        with read_image(tmp_path / "a.tif", lazy=lazy) as image:
            assert (image.axes, image.pixel_size_source, image.frame_interval_s) == (
                axes, source, interval)
            assert image.pixel_size_um == pytest.approx(size)
            np.testing.assert_array_equal(np.asarray(image.data), data)


def test_planes_pick_channels_planes_and_frames(tmp_path):
    tifffile.imwrite(tmp_path / "c.tif", PIXELS, **ij("CYX", Labels=["dapi", "actin", "myo"]))
    tifffile.imwrite(tmp_path / "t.tif", PIXELS, **ij("TYX"))
    tifffile.imwrite(tmp_path / "yxc.tif", np.moveaxis(PIXELS, 0, -1)[..., :2],
                     metadata={"axes": "YXC"})
    with read_image(tmp_path / "c.tif", lazy=True) as image:
        assert image.channel_names == ("dapi", "actin", "myo")
        planes = select_planes(image, channel=2)
        assert (planes.is_movie, len(planes), planes[0].dtype) == (False, 1, np.float64)
        np.testing.assert_array_equal(planes[0], PIXELS[2])
    movie = select_planes(read_image(tmp_path / "t.tif"))
    assert movie.is_movie and [f.sum() for f in movie] == [p.sum() for p in PIXELS]
    np.testing.assert_array_equal(select_planes(read_image(tmp_path / "yxc.tif"), channel=1)[0],
                                  PIXELS[1])


def test_colour_becomes_luma_grey_and_grey_alpha_keeps_grey(tmp_path):
    rgb = np.moveaxis(PIXELS, 0, -1).astype(np.uint8)
    iio.imwrite(tmp_path / "rgb.png", rgb)
    iio.imwrite(tmp_path / "la.png", rgb[..., :2])
    grey = select_planes(read_image(tmp_path / "rgb.png"))[0]
    np.testing.assert_allclose(grey, rgb @ np.array([0.2125, 0.7154, 0.0721]), rtol=1e-12)
    np.testing.assert_array_equal(select_planes(read_image(tmp_path / "la.png"))[0], rgb[..., 0])


@pytest.mark.parametrize(
    "data, kwargs, choice, message",
    [
        (PIXELS, ij("CYX", Labels=["dapi", "actin", "myo"]), {},
         "3 channels (0: dapi, 1: actin, 2: myo): choose one with --channel N"),
        (PIXELS, ij("CYX"), {"channel": 3}, "no channel 3: 3 channels (0, 1, 2)"),
        (PIXELS, ij("ZYX"), {}, "a Z stack of 3 planes: choose one with --z N (0 to 2); "
         "volumes are not analysed"),
        (PIXELS, ij("ZYX"), {"z": 5}, "no plane z=5: the Z stack has 3 planes"),
        (PIXELS[0], ij("YX"), {"channel": 1}, "no channel 1: the file has one channel"),
        (PIXELS[0], ij("YX"), {"z": 1}, "no plane z=1: the file has no Z axis"),
        (PIXELS, {"photometric": "minisblack"}, {}, "axes QYX of shape (3, 12, 16) do not say "
         "which is time, depth or channel; save the file as an ImageJ hyperstack or OME-TIFF"),
    ],
    ids=["channels", "channel-range", "z-stack", "z-range", "no-channel-axis", "no-z-axis",
         "unknown-axes"],
)
def test_open_choices_are_refused_with_what_to_choose(tmp_path, data, kwargs, choice, message):
    tifffile.imwrite(tmp_path / "a.tif", data, **kwargs)
    with pytest.raises(ImageReadError) as info:
        select_planes(read_image(tmp_path / "a.tif"), **choice)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "name, message",
    [("bad.tif", "not a TIFF file"), ("missing.png", "no such file"),
     ("skew.tif", "pixels are not square (0.5 x 1 µm); the analysis needs square pixels")],
    ids=["not-an-image", "missing", "non-square"],
)
def test_unreadable_and_non_square_files_say_why(tmp_path, name, message):
    (tmp_path / "bad.tif").write_bytes(b"not a tiff")
    tifffile.imwrite(tmp_path / "skew.tif", PIXELS[0], resolution=(2e4, 1e4),
                     resolutionunit="CENTIMETER")
    with pytest.raises(ImageReadError) as info:
        read_image(tmp_path / name)
    assert str(info.value).startswith(message)


def test_frames_read_by_reference_in_another_process_are_the_planes(tmp_path):
    # What frame workers receive instead of the pixels: a reference they read from the file.
    movie = np.arange(4 * 2 * 12 * 16, dtype=np.uint16).reshape(4, 2, 12, 16)
    tifffile.imwrite(tmp_path / "tc.tif", movie, **ij("TCYX"))
    with read_image(tmp_path / "tc.tif", lazy=True) as image:
        planes = select_planes(image, channel=1)
        for stored in (planes, planes.as_stored()):
            refs = [pickle.dumps(stored.stored_frame(t)) for t in range(4)]
            assert max(map(len, refs)) < 1000
            for t, ref in enumerate(refs):
                frame = pickle.loads(ref).read()
                assert frame.dtype == stored[t].dtype
                np.testing.assert_array_equal(frame, movie[t, 1])
        with pytest.raises(IndexError):
            planes.stored_frame(4)
        # A file rewritten while its frames are out is an error, not a frame of another movie.
        tifffile.imwrite(tmp_path / "tc.tif", movie[:, :, :6], **ij("TCYX"))
        with pytest.raises(ImageReadError, match="changed while"):
            pickle.loads(refs[2]).read()
    # Pixels held in memory have no file to read from.
    assert select_planes(read_image(tmp_path / "tc.tif"), channel=0).stored_frame(0) is None
