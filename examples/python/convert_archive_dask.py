#!/usr/bin/env python3
"""Converts every project folder of an archive on the workers of a Dask cluster and gathers the reports into one
pandas table, one row per Paradox table.

    PYTHONPATH=build/python/package python3 examples/python/convert_archive_dask.py ARCHIVE
        [--scheduler tcp://HOST:8786] [--workers 2] [--jobs 1] [--delete-old] [--csv REPORT.csv]

A project folder is a folder of the archive tree that holds Paradox tables (*.db, *.run, *.sdb, *.tdb). Each
one is an independent task: a worker converts it with veziru.convert, which locks the folder, skips libraries
that exist, writes the folder's own Convert.log and deletes nothing that is not complete (and only with
--delete-old). A folder that fails does not stop the others: its row says why, and running the script again
completes what is left.

Without --scheduler the script starts a LocalCluster of --workers processes on this machine. With a scheduler,
every worker must be able to import veziru (an installed package, or PYTHONPATH in the workers' environment)
and must see the archive under the same path (a shared file system).
"""
import argparse
import fnmatch
import os
import sys

import pandas

import veziru

TABLE_MASKS = ("*.db", "*.run", "*.sdb", "*.tdb")


def project_folders(archive):
    """The folders of the archive tree that hold Paradox tables, in name order."""
    found = []
    for folder, subfolders, files in os.walk(archive):
        subfolders.sort()
        if any(fnmatch.fnmatch(name.lower(), mask) for name in files for mask in TABLE_MASKS):
            found.append(folder)
    return sorted(found)


def convert_folder(folder, jobs=1, delete_old=False):
    """Runs on a worker: converts one project folder; one row per table, or one row saying why nothing ran."""
    try:
        report = veziru.convert(folder, delete_old=delete_old, jobs=jobs)
    except veziru.Error as error:
        return [{"folder": folder, "source": "", "outcome": "folder failed", "reason": str(error)}]
    rows = []
    for table in report["tables"]:
        row = {"folder": folder, "log": report["log"], "error_lines": report["error_lines"]}
        row.update(table)
        rows.append(row)
    return rows


def convert_archive(client, archive, jobs=1, delete_old=False):
    """Converts every project folder of the archive on the client's cluster; the report as a pandas table."""
    folders = project_folders(archive)
    futures = client.map(convert_folder, folders, jobs=jobs, delete_old=delete_old, pure=False)
    rows = [row for rows in client.gather(futures) for row in rows]
    return pandas.DataFrame(rows, columns=sorted({key for row in rows for key in row}) or ["folder"])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("archive")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster")
    parser.add_argument("--jobs", type=int, default=1, help="tables converted at once inside each folder")
    parser.add_argument("--delete-old", action="store_true", help="delete the Paradox tables found complete")
    parser.add_argument("--csv", help="write the report to this CSV file")
    args = parser.parse_args()

    from dask.distributed import Client, LocalCluster
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True))
    with client:
        report = convert_archive(client, os.path.abspath(args.archive), args.jobs, args.delete_old)
    if args.csv:
        report.to_csv(args.csv, index=False)
    done = report["outcome"].isin(["converted", "skipped because the library exists"]).sum() if len(report) else 0
    print("%d folders, %d tables, %d converted or there already" % (report["folder"].nunique(), len(report), done))
    failed = report[~report["outcome"].isin(["converted", "skipped because the library exists", "no records",
                                             "no library type"])] if len(report) else report
    for _, row in failed.iterrows():
        print("  %s: %s (%s)" % (row["source"] or row["folder"], row["outcome"], row["reason"]))
    return 1 if len(failed) else 0


if __name__ == "__main__":
    sys.exit(main())
