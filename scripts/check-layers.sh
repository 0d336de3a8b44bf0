#!/usr/bin/env bash
# Fails when a source file under src/ includes a header of a layer above its own.
# The layers, lowest first: can and serial know nothing of the others; the
# interface builds on the frames; the USB transport on frames, serial port and
# interface; the SocketCAN transport likewise (it shares the serial wake-up
# event and the bit rate table); the devices on frames and interface. The
# firmware update sits
# beside the proxies that run it: it speaks to the bootloader through the
# interface and uses only the devices' protocol tables, never the proxies. The
# configuration and calibration procedures build on the proxies.
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

declare -A allowed=(
  [can]=""
  [serial]=""
  [interface]="can"
  [usb]="can serial interface"
  [devices]="can interface flash"
  [flash]="can interface devices/protocol"
  [config]="can interface devices"
  [calibration]="can interface devices"
  [socketcan]="can serial interface devices/protocol"
)

status=0
while IFS= read -r -d '' file; do
  layer="${file#"$src"/}"
  layer="${layer%%/*}"
  if [[ -z "${allowed[$layer]+set}" ]]; then
    echo "$file: directory '$layer' has no place in the layer list of $0"
    status=1
    continue
  fi
  while IFS= read -r included; do
    [[ "${included%%/*}" == "$layer" ]] && continue
    permitted=0
    for prefix in ${allowed[$layer]}; do
      [[ "$included" == "$prefix"/* ]] && permitted=1
    done
    if [[ $permitted -eq 0 ]]; then
      echo "$file includes \"$included\": $layer may not depend on it"
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
exit $status
