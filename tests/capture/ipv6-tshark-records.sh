#!/usr/bin/env bash
# Writes ipv6-tshark-records.tsv beside this script: for each capture file named, every frame
# whose outermost IP header is IPv6 and carries TCP or UDP (behind any extension headers;
# first fragments only), as tshark shows it: file, class (incoming: the empty monitor),
# source address and port, destination address and port, captured length (at most 32767).
#   bash tests/capture/ipv6-tshark-records.sh ../shared/captures FILE...
# (the files it was written for are those in the first column of the .tsv).
set -euo pipefail
dir=$1
shift
out=$(dirname "$0")/ipv6-tshark-records.tsv
for f in "$@"; do
  tshark -r "$dir/$f" -o ipv6.defragment:FALSE -o ip.defragment:FALSE -E occurrence=f -T fields \
    -e frame.protocols -e ipv6.src -e ipv6.dst -e tcp.srcport -e tcp.dstport -e udp.srcport \
    -e udp.dstport -e frame.cap_len -e ipv6.fraghdr.offset 2>/dev/null |
    awk -F'\t' -v file="$f" '{
      n = split($1, p, ":")
      for (i = 1; i <= n; i++) if (p[i] == "ip" || p[i] == "ipv6") break
      if (i > n || p[i] != "ipv6") next
      for (j = i + 1; j <= n && p[j] ~ /^ipv6\./; j++) {}
      if ($9 != "" && $9 != "0") next
      len = $8 > 32767 ? 32767 : $8
      if (p[j] == "tcp" && $4 != "") print file "\tincomingTCP\t" $2 "\t" $4 "\t" $3 "\t" $5 "\t" len
      if (p[j] == "udp" && $6 != "") print file "\tincomingUDP\t" $2 "\t" $6 "\t" $3 "\t" $7 "\t" len
    }'
done >"$out"
