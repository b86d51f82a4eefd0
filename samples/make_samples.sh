#!/usr/bin/env bash
# Writes the sample price files of this folder: made-up daily prices on the
# trading days (Monday to Friday) from 2 January 2020, the same every run.
# (Two-digit years read as 20xx only up to 20, so the samples stay in 2020.)
#   ibm.txt, aapl.txt   default layout: yyyymmdd,open,high,low,close,volume,openint
#   msft_yahoo.csv      31-Dec-99 dates, fields DOHLCV, comma separated
#   gold_dj.txt         12/31/99 dates, fields DHLCV, blank separated
#   stocks!.lst         a list of names: converts ibm.txt and aapl.txt in one go
#   200102S.ZIP ...     InvestorLink-style archives, one STK member of
#                       SYMBOL,open,high,low,close,volume,openint lines each
set -euo pipefail
cd "$(dirname "$0")"

# days N: N trading days as yyyymmdd from 2020-01-02.
days() {
  local n=$1 d=2020-01-02 out=0
  while ((out < n)); do
    if (($(date -u -d "$d" +%u) <= 5)); then
      date -u -d "$d" +%Y%m%d
      out=$((out + 1))
    fi
    d=$(date -u -d "$d + 1 day" +%F)
  done
}

# walk SEED START: open high low close volume for each date on stdin.
walk() {
  awk -v seed="$1" -v p="$2" '
    BEGIN { s = seed }
    function rnd() { s = (s * 1103515245 + 12345) % 2147483648; return s / 2147483648 }
    {
      o = p; c = o * (1 + (rnd() - 0.5) * 0.04)
      h = (o > c ? o : c) * (1 + rnd() * 0.01); l = (o < c ? o : c) * (1 - rnd() * 0.01)
      v = int(1000000 + rnd() * 4000000)
      printf "%s %.2f %.2f %.2f %.2f %d\n", $1, o, h, l, c, v
      p = c
    }'
}

days 60 > /tmp/morva-sample-days.$$
trap 'rm -f /tmp/morva-sample-days.$$; rm -rf /tmp/morva-sample-zip.$$' EXIT

walk 7 185 < /tmp/morva-sample-days.$$ | awk '{ printf "%s,%s,%s,%s,%s,%s,0\n", $1, $2, $3, $4, $5, $6 }' > ibm.txt
walk 11 192 < /tmp/morva-sample-days.$$ | awk '{ printf "%s,%s,%s,%s,%s,%s,0\n", $1, $2, $3, $4, $5, $6 }' > aapl.txt
walk 13 370 < /tmp/morva-sample-days.$$ | awk '
  BEGIN { split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", m, " ") }
  { printf "%s-%s-%s,%s,%s,%s,%s,%s\n", substr($1, 7, 2), m[substr($1, 5, 2) + 0], substr($1, 3, 2), $2, $3, $4, $5, $6 }' > msft_yahoo.csv
walk 17 2060 < /tmp/morva-sample-days.$$ | awk '
  { printf "%s/%s/%s %s %s %s %s\n", substr($1, 5, 2), substr($1, 7, 2), substr($1, 3, 2), $3, $4, $5, $6 }' > gold_dj.txt
printf 'ibm.txt\naapl.txt\n' > 'stocks!.lst'

mkdir -p /tmp/morva-sample-zip.$$
for day in 200102 200103 200106; do
  member=/tmp/morva-sample-zip.$$/${day}S.STK
  : > "$member"
  for sym in ABC BCD CDE XYZ; do
    seed=$(( $(printf '%d' "'${sym:0:1}") * 31 + ${day:4:2} ))
    echo "$day" | walk "$seed" $((20 + seed % 80)) | awk -v s="$sym" '{ printf "%s,%s,%s,%s,%s,%s,0\n", s, $2, $3, $4, $5, $6 }' >> "$member"
  done
  rm -f "${day}S.ZIP"
  (cd /tmp/morva-sample-zip.$$ && TZ=UTC touch -t 202001060000 "${day}S.STK" && zip -q -X -j - "${day}S.STK") > "${day}S.ZIP"
done
