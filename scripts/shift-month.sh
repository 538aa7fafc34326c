#!/usr/bin/env bash
# Moves a copy of a benchmark month in time: every timestamp in it by <seconds>, then folds the
# write-ahead log back into the file. A whole number of hours keeps the roll-up buckets aligned; a
# move by more than the month spans keeps their keys unique while the rows are updated one by one.
#
#   scripts/shift-month.sh <database> <seconds>
#
# Needs sqlite3. Only ever run it on a copy: the benchmark cache stays as it was generated.
set -uo pipefail
[[ $# -eq 2 && $2 =~ ^-?[0-9]+$ ]] || { echo "usage: scripts/shift-month.sh <database> <seconds>" >&2; exit 2; }
by=$2
sqlite3 "$1" "BEGIN;
UPDATE network_samples SET timestamp = timestamp + $by;
UPDATE wifi_snapshots SET timestamp = timestamp + $by;
UPDATE events SET timestamp = timestamp + $by;
UPDATE markers SET timestamp = timestamp + $by;
UPDATE incidents SET start_timestamp = start_timestamp + $by, end_timestamp = end_timestamp + $by;
UPDATE sample_rollups SET bucket_start = bucket_start + $by,
    first_sample_timestamp = first_sample_timestamp + $by, last_sample_timestamp = last_sample_timestamp + $by;
COMMIT; PRAGMA wal_checkpoint(TRUNCATE);" >/dev/null
