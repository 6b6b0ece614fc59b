"""linematch-batch: the linematch command over a list of image pairs, on a
Dask cluster (lineharvest.match_pairs).

Exit status 0 when every pair was matched, 1 when a pair failed (the
summary names it and its error), 2 for a bad command line or pair list.
"""

import argparse
import sys

USAGE_EPILOG = """\
PAIRS is a CSV or TSV file: columns image1,image2[,homography], or a header
naming image1, image2, homography, name in any order. Each pair's files go
to OUTDIR/<name>/ as linematch writes them; OUTDIR/summary.csv lists every
pair. A rerun skips pairs already done with the same inputs and options
whose outputs still have their recorded checksums. Anything of a pair's name
in OUTDIR that the batch did not write fails that pair and is left as it is.

  linematch-batch --images DIR_OR_LIST [--pairs exhaustive|sequential:K|PAIRS] OUTDIR
matches a collection: features once per image (cached in OUTDIR/.features),
the pairs from them, and the store OUTDIR/features.h5 and matches.h5.
"""


def _matcher_options():
    """The rows of the matcher's option table; none in a build without the
    matcher."""
    from . import _core

    return _core._matcher_options() if hasattr(_core, "_matcher_options") else []


def _number(text):
    """A number as the command reads it ("1e8" too); whole ones as int, so
    that the whole-number options take them."""
    try:
        return int(text)
    except ValueError:
        value = float(text)
    return int(value) if value.is_integer() else value


def parser():
    p = argparse.ArgumentParser(
        prog="linematch-batch",
        description="Line-segment correspondences for many image pairs (the linematch command on a Dask cluster).",
        epilog=USAGE_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("pairs", metavar="PAIRS", nargs="?", help="CSV/TSV file of image pairs (without --images)")
    p.add_argument("outdir", metavar="OUTDIR", nargs="?", help="folder of the results, one subfolder per pair")
    p.add_argument("--images", metavar="DIR_OR_LIST",
                   help="a collection: a folder of images or a file listing them; each image's features are "
                        "computed once and every pair of --pairs matched from them (then give only OUTDIR)")
    p.add_argument("--pairs", dest="plan", metavar="PLAN", default=None,
                   help="with --images: exhaustive (default), sequential:K, or a pair file")
    p.add_argument("--no-overlap-check", dest="overlap_check", action="store_false",
                   help="with --images: match pairs whose features share no plane in full too (status "
                        "no_overlap otherwise)")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="a running Dask scheduler (tcp://host:8786); default: a local cluster")
    p.add_argument("--workers", type=int, metavar="N", help="worker processes of the local cluster (CPUs // T)")
    p.add_argument("--threads", type=int, default=1, metavar="T", help="matcher threads per pair (1)")
    p.add_argument("--quiet", action="store_true", help="no progress bar, no closing line")
    m = p.add_argument_group("matcher options (as for linematch)")
    # The matcher's own table, as the linematch command offers it: the same
    # flags, ranges and defaults (match_pairs checks the values).
    for key, type_name, default, value_range, meaning, flag, _mex in _matcher_options():
        if key == "threads":
            continue  # --threads above: the matcher's threads in each pair
        if type_name == "bool":
            m.add_argument(flag, dest=key, action="store_false", default=argparse.SUPPRESS, help=meaning)
        else:
            m.add_argument(flag, dest=key, type=_number, default=argparse.SUPPRESS, metavar="N",
                           help=f"{meaning}; {value_range} ({default})")
    m.add_argument("--no-picture", action="store_true", help="do not write matches.png")
    return p


def main(argv=None):
    args = parser().parse_args(argv)
    import lineharvest as lh

    if not lh.HAS_MATCHER:
        print("linematch-batch: this lineharvest was built without the line matcher", file=sys.stderr)
        return 2
    if args.scheduler and args.workers is not None:
        print("linematch-batch: --workers is for the local cluster, not with --scheduler", file=sys.stderr)
        return 2
    if args.images is not None:
        if args.outdir is not None or args.pairs is None:
            print("linematch-batch: with --images give OUTDIR alone (the plan goes in --pairs)", file=sys.stderr)
            return 2
        args.outdir, args.pairs = args.pairs, args.plan or "exhaustive"
    elif args.plan is not None or args.outdir is None:
        print("linematch-batch: expected PAIRS OUTDIR (or --images DIR_OR_LIST [--pairs PLAN] OUTDIR)",
              file=sys.stderr)
        return 2
    options = {key: getattr(args, key) for key, *_rest in _matcher_options() if key != "threads" and hasattr(args, key)}
    client = None
    try:
        if args.scheduler:
            from distributed import Client

            client = Client(args.scheduler)
        collection = {"images": args.images, "overlap_check": args.overlap_check} if args.images else {}
        table = lh.match_pairs(args.pairs, args.outdir, **collection, client=client, workers=args.workers,
                               threads=args.threads,
                               progress=not args.quiet, picture=not args.no_picture, **options)
    except (ValueError, TypeError, OSError) as error:
        print(f"linematch-batch: {error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("linematch-batch: interrupted; a rerun goes on from the pairs done", file=sys.stderr)
        return 130
    finally:
        if client is not None:
            client.close()
    rows = table.to_dict("records") if hasattr(table, "to_dict") else table
    failed = [row for row in rows if row["status"] != "ok"]
    if not args.quiet or failed:
        print(f"linematch-batch: {len(rows) - len(failed)} of {len(rows)} pairs done, {len(failed)} failed; "
              f"summary in {args.outdir}/summary.csv", file=sys.stderr)
        for row in failed[:10]:
            print(f"  {row['name']}: {row['error']}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
