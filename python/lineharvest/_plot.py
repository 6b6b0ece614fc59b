"""lineharvest.plot_matches: a picture of line-segment correspondences
(matplotlib is imported only when it is called)."""

import numpy as np


def plot_matches(image1, image2, matches, segments1, segments2, *, ax=None, max_lines=None):
    """plot_matches(image1, image2, matches, segments1, segments2, *, ax=None, max_lines=None) -> Axes

    Draws image 1 and image 2 side by side, the matched segments of each
    (one colour per correspondence) and a thin line joining the midpoints of
    the two segments of each correspondence.

    Parameters
    ----------
    image1, image2 : numpy.ndarray
        ``(H, W)`` grey or ``(H, W, 3)`` images (shown as given; pass RGB
        for colour), or None for a blank area of the segments' extent.
    matches : array_like, shape (K, 2)
        0-based index pairs into ``segments1`` and ``segments2``
        (``MatchResult.matches``).
    segments1, segments2 : array_like, shape (N, 4)
        Segments ``x1 y1 x2 y2`` in pixels.
    ax : matplotlib.axes.Axes, optional
        Where to draw; a new figure's axes by default.
    max_lines : int, optional
        Draw at most this many correspondences (evenly chosen).

    Returns
    -------
    matplotlib.axes.Axes

    Raises
    ------
    ImportError
        matplotlib is not installed.
    """
    try:
        import matplotlib.pyplot as plt
        from matplotlib.collections import LineCollection
    except ImportError as missing:
        raise ImportError("plot_matches needs matplotlib (Debian: python3-matplotlib)") from missing

    matches = np.asarray(matches, dtype=np.int64).reshape(-1, 2)
    s1 = np.asarray(segments1, dtype=np.float64).reshape(-1, 4)
    s2 = np.asarray(segments2, dtype=np.float64).reshape(-1, 4)
    if len(matches) and (matches.min() < 0 or matches[:, 0].max() >= len(s1) or matches[:, 1].max() >= len(s2)):
        raise ValueError("matches must hold 0-based indices into segments1 and segments2")
    if max_lines is not None and len(matches) > max_lines:
        matches = matches[np.linspace(0, len(matches) - 1, max_lines).astype(np.int64)]

    def extent(image, segments):
        if image is not None:
            return np.asarray(image).shape[:2]
        top = segments[:, [1, 3]].max() if len(segments) else 1.0
        right = segments[:, [0, 2]].max() if len(segments) else 1.0
        return int(top) + 1, int(right) + 1

    (h1, w1), (h2, w2) = extent(image1, s1), extent(image2, s2)
    if ax is None:
        _, ax = plt.subplots(figsize=(12, 6))
    for image, offset in ((image1, 0), (image2, w1)):
        if image is not None:
            image = np.asarray(image)
            ax.imshow(image, cmap="gray" if image.ndim == 2 else None,
                      extent=(offset - 0.5, offset + image.shape[1] - 0.5, image.shape[0] - 0.5, -0.5))
    shifted = s2[matches[:, 1]] + np.array([w1, 0, w1, 0])
    first = s1[matches[:, 0]]
    colours = plt.get_cmap("hsv")(np.linspace(0, 1, max(len(matches), 1), endpoint=False))
    for segments in (first, shifted):
        ax.add_collection(LineCollection(segments.reshape(-1, 2, 2), colors=colours[: len(segments)], linewidths=1.5))
    joins = np.stack([(first[:, :2] + first[:, 2:]) / 2, (shifted[:, :2] + shifted[:, 2:]) / 2], axis=1)
    ax.add_collection(LineCollection(joins, colors=colours[: len(joins)], linewidths=0.4, alpha=0.6))
    ax.set_xlim(-0.5, w1 + w2 - 0.5)
    ax.set_ylim(max(h1, h2) - 0.5, -0.5)
    ax.set_aspect("equal")
    ax.set_axis_off()
    return ax
