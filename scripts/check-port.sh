#!/usr/bin/env bash
# Checks serial port N as the station would open it:
#   1. the device the port resolves to (the link <data folder>/serial/comN, else /dev/ttyS{N-1});
#   2. whether that device exists;
#   3. whether this user may open it (read and write);
#   4. whether a controller answers input register 1 (loop 1's measured value)
#      at the chosen baud rate and parity (needs mbpoll).
# Usage: scripts/check-port.sh N [BAUD [PARITY [ADDRESS]]]
#   BAUD 4800, 9600 (default) or 19200; PARITY none (default), odd or even;
#   ADDRESS the station address, 1 by default.
# Exit status: 0 when the controller answered, 1 when a step failed, 2 on bad arguments.
set -uo pipefail

usage() { sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

port=${1:-}
baud=${2:-9600}
parity=${3:-none}
address=${4:-1}
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 20 ] || usage
case $baud in 4800|9600|19200) ;; *) usage ;; esac
case $parity in none|odd|even) ;; *) usage ;; esac
[[ $address =~ ^[0-9]+$ ]] && [ "$address" -ge 1 ] && [ "$address" -le 247 ] || usage

data=${XDG_DATA_HOME:-$HOME/.local/share}/lx6100-station
link=$data/serial/com$port

# 1. The device.
if [ -L "$link" ]; then
  device=$(readlink -f -- "$link" || readlink -- "$link")
  echo "port $port: $link -> $(readlink -- "$link")"
  [ "$device" != "$(readlink -- "$link")" ] && echo "         resolves to $device"
elif [ -e "$link" ]; then
  device=$link
  echo "port $port: $link (not a link)"
else
  device=/dev/ttyS$((port - 1))
  echo "port $port: no link $link, so the station opens $device"
fi

# 2. Does it exist?
if [ ! -e "$device" ]; then
  echo "FAIL: $device does not exist (adapter unplugged, or the link names the wrong device; see ls -l /dev/serial/by-id/)"
  exit 1
fi
echo "ok:   $device exists ($(stat -Lc '%U:%G %A' -- "$device"))"

# 3. May this user open it?
# Joining the device's group is the fix only when that group is the one the
# system gives serial ports (dialout on Debian, uucp elsewhere); joining root,
# tty or a user's own group would hand out far more than a serial port.
serial_groups="dialout uucp"
if [ ! -r "$device" ] || [ ! -w "$device" ]; then
  owner=$(stat -Lc '%U' -- "$device")
  group=$(stat -Lc '%G' -- "$device")
  echo "FAIL: $(id -un) may not open $device (owner $owner, group $group; your groups: $(id -nG))."
  echo "      Every exchange would fail with \"Permission denied\": the station's link indicator"
  echo "      shows \"通讯中断\" in red and its tooltip names the error."
  if [[ " $serial_groups " == *" $group "* ]]; then
    echo "      Fix: sudo usermod -aG $group $(id -un), then log out and in again."
  else
    echo "      $group is not a serial port group: do not join it. Check that the link names the"
    echo "      adapter (ls -l /dev/serial/by-id/). A serial adapter normally belongs to group dialout;"
    echo "      one that does not needs a udev rule giving it that group, for example in"
    echo "      /etc/udev/rules.d/60-lx6100.rules (vendor and product from udevadm info -a -n $device):"
    echo "        SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", GROUP=\"dialout\", MODE=\"0660\""
    echo "      then sudo udevadm control --reload && sudo udevadm trigger, and join dialout if you are not in it."
  fi
  exit 1
fi
echo "ok:   $(id -un) may read and write $device"

# 4. Does a controller answer?
if ! command -v mbpoll >/dev/null; then
  echo "SKIP: mbpoll is not installed (sudo apt-get install mbpoll) to ask the controller"
  exit 1
fi
echo "asking station $address for input register 1 at $baud baud, parity $parity ..."
# -0: register numbers as the station sends them (input register 1 is address 1 on the wire).
# mbpoll prints its settings on standard output and the reason of a failure
# ("Connection timed out") on standard error; keep the two apart so that the
# reason is what the operator sees.
errors=$(mktemp)
trap 'rm -f -- "$errors"' EXIT
if out=$(mbpoll -m rtu -a "$address" -b "$baud" -P "$parity" -d 8 -s 1 -t 3 -0 -r 1 -c 1 -1 -o 1 "$device" 2>"$errors"); then
  value=$(printf '%s\n' "$out" | sed -n 's/^\[1\]:[[:space:]]*//p' | head -n 1)
  echo "ok:   the controller answered: input register 1 = ${value:-?}"
  exit 0
fi
echo "FAIL: no answer from station $address at $baud baud, parity $parity:"
if [ -s "$errors" ]; then
  tail -n 3 -- "$errors"
else
  printf '%s\n' "$out" | tail -n 3
fi | sed 's/^/      /'
echo "      Check the wiring (A/B), the controller's address, baud rate and parity, and that nothing else holds the port."
exit 1
