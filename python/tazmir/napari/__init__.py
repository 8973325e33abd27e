"""The napari plugin of tazmir: an analysis widget, a reader of result folders, sample data.

Declared to napari by the manifest ``napari.yaml`` beside this file, so napari lists the
plugin without importing it. ``tazmir.napari.layers`` turns an analysis into napari layer
data and imports neither napari nor Qt; the widget needs the ``napari`` extra
(``pip install "tazmir[napari]"``).
"""
