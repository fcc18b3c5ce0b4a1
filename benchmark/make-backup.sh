#!/usr/bin/env bash
# Writes a database-like backup of about SIZE MiB: an SQLite database of a few tables of
# mixed text, numbers and small blobs, the kind of bytes a nightly dump holds.
#   make-backup.sh SIZE_MIB OUTPUT_FILE
set -euo pipefail
size_mib=$1
out=$2
rm -f "$out"
sqlite3 "$out" <<'SQL'
PRAGMA page_size = 4096;
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE customers(id INTEGER PRIMARY KEY, name TEXT, city TEXT, email TEXT, created TEXT);
CREATE TABLE orders(id INTEGER PRIMARY KEY, customer INTEGER, amount REAL, quantity INTEGER,
                    status TEXT, note TEXT, placed TEXT);
CREATE TABLE attachments(id INTEGER PRIMARY KEY, orderid INTEGER, kind TEXT, payload BLOB);
CREATE INDEX orders_customer ON orders(customer);
SQL
target=$((size_mib * 1024 * 1024))
batch=0
while [ "$(stat -c %s "$out")" -lt "$target" ]; do
  base=$((batch * 20000))
  sqlite3 "$out" <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
BEGIN;
WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n LIMIT 20000)
INSERT INTO customers
  SELECT $base + x,
         'Customer ' || (($base + x) * 7919 % 100003),
         CASE x % 5 WHEN 0 THEN 'Shanghai' WHEN 1 THEN 'Beijing' WHEN 2 THEN 'Hangzhou'
                  WHEN 3 THEN 'Shenzhen' ELSE 'Chengdu' END,
         'user' || (($base + x) * 31 % 99991) || '@example.com',
         date('2020-01-01', '+' || (($base + x) % 1800) || ' days')
  FROM n;
WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n LIMIT 60000)
INSERT INTO orders
  SELECT 3 * $base + x,
         $base + (x * 13 % 20000) + 1,
         round(((x * 7727) % 1000000) / 100.0, 2),
         1 + x % 17,
         CASE x % 4 WHEN 0 THEN 'paid' WHEN 1 THEN 'shipped' WHEN 2 THEN 'open' ELSE 'refunded' END,
         'order ' || x || ' of batch $batch; priority ' || (x % 3) || ', ref ' || hex(x * 2654435761 % 4294967296),
         datetime('2021-06-01', '+' || (x * 37 % 31536000) || ' seconds')
  FROM n;
WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n LIMIT 6000)
INSERT INTO attachments
  SELECT 6 * $base / 20 + x, 3 * $base + x * 10,
         CASE x % 3 WHEN 0 THEN 'thumbnail' WHEN 1 THEN 'signature' ELSE 'receipt' END,
         CASE x % 4 WHEN 0 THEN randomblob(64) ELSE zeroblob(32) || randomblob(16) || zeroblob(80) END
  FROM n;
COMMIT;
SQL
  batch=$((batch + 1))
done
