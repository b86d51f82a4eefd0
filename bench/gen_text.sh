#!/bin/sh
# Writes the benchmark text for bench_text_to_chart: 4,000 symbols of 250
# daily bars each (1,000,000 lines), one symbol after the other, in the
# layout S D O H L C V I with ',' and yyyymmdd dates.  The same file every
# time: prices come from a fixed linear congruential sequence.
#
#   bench/gen_text.sh [output]     (default: bench-prices.txt)
set -eu
out=${1:-bench-prices.txt}
awk -v symbols=4000 -v days=250 'BEGIN {
  split("31 28 31 30 31 30 31 31 30 31 30 31", ml, " ")
  y = 1999; m = 1; d = 4; wd = 1          # 4 January 1999 was a Monday
  for (i = 0; i < days; ) {
    if (wd < 6) dates[i++] = sprintf("%04d%02d%02d", y, m, d)
    d++; wd = wd % 7 + 1
    if (d > ml[m]) { d = 1; m++; if (m > 12) { m = 1; y++ } }
  }
  seed = 12345
  for (s = 0; s < symbols; s++) {
    sym = sprintf("S%04d", s)
    price = 10 + s % 90
    for (i = 0; i < days; i++) {
      seed = (seed * 69069 + 1) % 4294967296   # exact in double precision
      move = (seed % 201 - 100) / 1000
      o = price; c = price + move
      if (c < 1) c = 1
      h = (o > c ? o : c) + 0.125
      l = (o < c ? o : c) - 0.125
      vol = 1000 + seed % 900000
      printf "%s,%s,%.3f,%.3f,%.3f,%.3f,%d,%d\n", sym, dates[i], o, h, l, c, vol, s % 7
      price = c
    }
  }
}' > "$out"
