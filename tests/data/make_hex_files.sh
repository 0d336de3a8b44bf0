#!/bin/sh
# Makes the Intel HEX files of this directory as real producers write them:
# GNU objcopy (Debian package binutils 2.40) and srec_cat (package srecord 1.64).
# The files are kept in the repository, so the tests need neither tool; run this
# script here to make them again (the output is the same byte for byte).
#
# The payload of every image is byte i = (i * 31 + 7) mod 256, from the image's
# first address; the tests compute it the same way.
#
#   objcopy_linear_start.hex    objcopy, 512 bytes at 0x0800FF00: extended linear
#                               address records (04) on both sides of a 64 KiB
#                               boundary, a start address record (05), CRLF
#   srec_cat_255_crlf.hex       srec_cat, 1020 bytes at 0x08000000 in full
#                               255-byte records, CRLF: the longest lines there are
#   srec_cat_erased_end.hex     srec_cat, 256 bytes ending exactly at 0x080C0000,
#                               the end of the sectors an update erases, LF
#   planted_type06.hex          objcopy_linear_start.hex with a type 06 record
#   planted_typeFF.hex          ... with a type FF record (both with good checksums)
#   planted_linear_count.hex    ... whose first 04 record has count 03
#   planted_linear_address.hex  ... whose first 04 record has address 0001
#   overlap_different.hex       objcopy's records of 32 bytes at 0x08000000, then
#                               those of 32 other bytes at 0x08000010
#   overlap_repeat.hex          objcopy's records of 32 bytes at 0x08000000 twice
#   truncated_mid_line.hex      objcopy_linear_start.hex cut off inside line 6
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

payload() {  # payload SIZE SEED > file
    python3 -c 'import sys; n, seed = int(sys.argv[1]), int(sys.argv[2]); sys.stdout.buffer.write(bytes((i * 31 + seed) & 0xFF for i in range(n)))' "$1" "$2"
}
# record TYPE ADDRESS DATA-HEX: one record line with its checksum, CRLF.
record() {
    python3 -c '
import sys
kind, address, data = int(sys.argv[1], 16), int(sys.argv[2], 16), bytes.fromhex(sys.argv[3])
body = bytes([len(data), address >> 8, address & 0xFF, kind]) + data
sys.stdout.write(":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\r\n")' "$1" "$2" "$3"
}
# planted NAME LINE: objcopy_linear_start.hex with line LINE replaced by stdin.
planted() {
    awk -v n="$2" -v f="$work/line" 'NR == n { while ((getline l < f) > 0) print l; next } { print }' \
        objcopy_linear_start.hex > "$1"
}

payload 512 7 > "$work/p512.bin"
payload 1020 7 > "$work/p1020.bin"
payload 256 7 > "$work/p256.bin"
payload 32 7 > "$work/a32.bin"
payload 32 99 > "$work/b32.bin"

objcopy -I binary -O ihex --change-addresses 0x0800FF00 --set-start 0 "$work/p512.bin" objcopy_linear_start.hex
srec_cat "$work/p1020.bin" -binary -offset 0x08000000 -o srec_cat_255_crlf.hex -intel -Output_Block_Size 255 -CRLF
srec_cat "$work/p256.bin" -binary -offset 0x080BFF00 -o srec_cat_erased_end.hex -intel -Output_Block_Size 16

# Line 3 is a data record; the planted record comes before it.
{ record 06 0000 00000000; sed -n 3p objcopy_linear_start.hex; } > "$work/line"
planted planted_type06.hex 3
{ record FF 0010 1234; sed -n 3p objcopy_linear_start.hex; } > "$work/line"
planted planted_typeFF.hex 3
record 04 0000 080000 > "$work/line"
planted planted_linear_count.hex 1
record 04 0001 0800 > "$work/line"
planted planted_linear_address.hex 1

objcopy -I binary -O ihex --change-addresses 0x08000000 "$work/a32.bin" "$work/a.hex"
objcopy -I binary -O ihex --change-addresses 0x08000010 "$work/b32.bin" "$work/b.hex"
{ sed '$d' "$work/a.hex"; cat "$work/b.hex"; } > overlap_different.hex
{ sed '$d' "$work/a.hex"; cat "$work/a.hex"; } > overlap_repeat.hex

head -c "$(( $(head -n 5 objcopy_linear_start.hex | wc -c) + 20 ))" objcopy_linear_start.hex > truncated_mid_line.hex
