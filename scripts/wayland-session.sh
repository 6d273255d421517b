# shellcheck shell=bash
# The Wayland test session of scripts/desktop-session (sourced by it after its
# X11 functions; this file replaces the session's state, start, stop and
# health check).
#
# State folder layout:
#   run/            XDG_RUNTIME_DIR of everything but sway: bus, pipewire-0,
#                   pulse/native, wayland-0 and sway-ipc.sock (links to
#                   sway's sockets), portal-wayland (the portal backend's proxy)
#   sway-run/       sway's own runtime folder (sway refuses to run as root, so
#                   as root it runs as nobody)
#   home/           HOME and XDG folders of the daemons
#   *.log, *.pid, env, and the generated configuration files
#
# A bar runs at the bottom of the output (waybar) with a tray that hosts
# StatusNotifier icons, as on a sway desktop people use; "bar stop|start"
# takes it away and brings it back. ONDEXA_WAYLAND_SIZE=1366x768 sets the
# output's size (1920x1080 by default); ONDEXA_WAYLAND_SCALE=2 runs the output at
# scale 2 (1920x1080 pixels, 960x540 in the programs' units).

: "${wait_seconds:=15}" "${display_number:=99}"
state=${ONDEXA_WAYLAND_STATE:-/tmp/ondexa-wayland-$display_number}
env_file="$state/env"
run="$state/run"
sway_run="$state/sway-run"
home="$state/home"
pulse_socket="$run/pulse/native"
bus_socket="$run/bus"
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Every daemon carries this variable, so that stop finds them all (also the
# ones D-Bus activates) and nothing else.
marker="ONDEXA_WAYLAND_SESSION=$state"

# The daemons' whole environment, and the commands' of this script.
session_variables=(
  PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 HOME="$home"
  XDG_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
  XDG_STATE_HOME="$home/.local/state" XDG_CACHE_HOME="$home/.cache"
  DBUS_SESSION_BUS_ADDRESS="unix:path=$bus_socket" PULSE_SERVER="unix:$pulse_socket"
  PULSE_RUNTIME_PATH="$run/pulse" XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
  WAYLAND_DISPLAY=wayland-0 SWAYSOCK="$run/sway-ipc.sock" "$marker")
wayland_env() { env -i "${session_variables[@]}" "$@"; }

# Starts a daemon in its own session, its output in $state/<name>.log.
daemon() {
  local name=$1
  shift
  setsid "$@" </dev/null >"$state/$name.log" 2>&1 9>&- &
  echo $! >"$state/$name.pid"
}

bus_answers() {
  [ -S "$bus_socket" ] && wayland_env timeout 5 dbus-send --session --print-reply \
    --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1
}
sway_answers() { [ -S "$run/sway-ipc.sock" ] && wayland_env timeout 5 swaymsg -t get_version >/dev/null 2>&1; }
wayland_pulse_answers() { [ -S "$pulse_socket" ] && wayland_env timeout 5 pactl info >/dev/null 2>&1; }
portal_answers() {
  wayland_env timeout 5 dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
    /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
    string:org.freedesktop.portal.ScreenCast string:AvailableSourceTypes 2>/dev/null | grep -q 'uint32 [1-9]'
}
wayland_sound_flows() {
  local got
  got=$(wayland_env timeout 0.5 parec --latency-msec=10 -d "$1" --channels=1 --rate=8000 \
    --format=s16le 2>/dev/null | head -c 64 | wc -c)
  [ "$got" = 64 ]
}
backend_on_bus() {
  wayland_env timeout 5 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.impl.portal.desktop.wlr 2>/dev/null |
    grep -q 'boolean true'
}
session_answers() { bus_answers && sway_answers && wayland_pulse_answers && portal_answers && bar_answers; }

# Waits up to wait_seconds for `check`, or until the first named daemon is
# gone; on failure shows the named daemons' logs.
await() {
  local what=$1 check=$2 log
  shift 2
  for _ in $(seq $((wait_seconds * 10))); do
    if $check; then return 0; fi
    if ! alive "$(read_pid "$state/$1.pid")"; then break; fi
    sleep 0.1
  done
  echo "desktop-session: $what did not come up; its log:" >&2
  for log in "$@"; do
    echo "--- $log" >&2
    tail -n 40 "$state/$log.log" >&2 2>/dev/null || true
  done
  return 1
}

daemons_of_this_session() {
  grep -lzxF -- "$marker" /proc/[0-9]*/environ 2>/dev/null | sed -n 's|^/proc/\([0-9]*\)/environ$|\1|p' || true
}

stop_session() {
  local pids pid
  pids=$(daemons_of_this_session)
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
      pids=$(daemons_of_this_session)
      [ -n "$pids" ] || break
      sleep 0.1
    done
    for pid in $pids; do
      # A zombie whose parent is gone is dead enough.
      [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = "Z" ] || kill -KILL "$pid" 2>/dev/null || true
    done
  fi
  rm -f "$env_file" "$state"/*.pid
  rm -rf "$run" "$sway_run"
}

# The proxy program: the given one, else built from its source once.
proxy_program() {
  if [ -n "${ONDEXA_WAYLAND_PROXY:-}" ]; then
    echo "$ONDEXA_WAYLAND_PROXY"
    return
  fi
  local source="$source_dir/Tests/support/wayland/WaylandProxy.cpp" program="$state/wayland-proxy"
  if [ ! -x "$program" ] || [ "$source" -nt "$program" ]; then
    c++ -std=c++20 -O2 -o "$program.new" "$source" && mv "$program.new" "$program"
  fi
  echo "$program"
}

write_configuration() {
  mkdir -p "$home/.config/wireplumber/main.lua.d" "$home/.config/wireplumber/bluetooth.lua.d" \
    "$state/dbus-services"
  cat >"$state/sway.conf" <<EOF
output HEADLESS-1 mode ${ONDEXA_WAYLAND_SIZE:-1920x1080}@60Hz position 0 0 scale ${ONDEXA_WAYLAND_SCALE:-1}
default_border none
xwayland disable
EOF
  chmod 644 "$state/sway.conf"
  # Only the services the portal needs can be activated.
  cat >"$state/dbus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$bus_socket</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$state/dbus-services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  cat >"$state/dbus-services/org.freedesktop.impl.portal.PermissionStore.service" <<EOF
[D-BUS Service]
Name=org.freedesktop.impl.portal.PermissionStore
Exec=/usr/libexec/xdg-permission-store
EOF
  # No devices: the machine's sound cards, cameras and Bluetooth stay out.
  cat >"$home/.config/wireplumber/main.lua.d/90-enable-all.lua" <<EOF
load_module("metadata")
default_access.enable()
device_defaults.enable()
stream_defaults.enable()
load_script("intended-roles.lua")
EOF
  echo "-- no Bluetooth in the test session" >"$home/.config/wireplumber/bluetooth.lua.d/90-enable-all.lua"
  mkdir -p "$home/.config/waybar"
  cat >"$home/.config/waybar/config" <<EOF
{
  "layer": "top",
  "position": "bottom",
  "height": 28,
  "modules-left": ["sway/workspaces"],
  "modules-right": ["tray"],
  "tray": {"icon-size": 18, "spacing": 6}
}
EOF
  cat >"$state/xdpw.conf" <<EOF
[screencast]
chooser_type=none
output_name=HEADLESS-1
EOF
}

start_bus() {
  daemon dbus env -i "${session_variables[@]}" dbus-daemon --config-file="$state/dbus.conf" --nofork --nopidfile
  await "the D-Bus session bus" bus_answers dbus
}

sway_socket() { find "$sway_run" -maxdepth 1 -name 'wayland-[0-9]*' -type s -printf '%f\n' 2>/dev/null | head -n 1; }
sway_ipc() { find "$sway_run" -maxdepth 1 -name 'sway-ipc.*.sock' -type s 2>/dev/null | head -n 1; }

start_sway() {
  local as_nobody=()
  mkdir -p "$sway_run"
  chmod 700 "$sway_run"
  if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$sway_run"
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  daemon sway env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$sway_run" XDG_RUNTIME_DIR="$sway_run" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "$marker" \
    "${as_nobody[@]}" sway -c "$state/sway.conf"
  sway_started() { [ -n "$(sway_socket)" ] && [ -n "$(sway_ipc)" ]; }
  await "sway" sway_started sway || return 1
  ln -sfn "$sway_run/$(sway_socket)" "$run/wayland-0"
  ln -sfn "$(sway_ipc)" "$run/sway-ipc.sock"
  await "sway's IPC" sway_answers sway
}

start_sound() {
  daemon pipewire env -i "${session_variables[@]}" pipewire
  # WirePlumber and the PulseAudio server give up when PipeWire is not there yet.
  pipewire_answers() { [ -S "$run/pipewire-0" ] && wayland_env timeout 5 pw-cli info 0 >/dev/null 2>&1; }
  await "PipeWire" pipewire_answers pipewire || return 1
  daemon wireplumber env -i "${session_variables[@]}" wireplumber
  daemon pipewire-pulse env -i "${session_variables[@]}" pipewire-pulse
  await "PipeWire's PulseAudio server" wayland_pulse_answers pipewire pipewire-pulse || return 1
  # The devices of the X11 session's PulseAudio script, at PipeWire's own rate
  # (48 kHz, where PulseAudio's is 44.1 kHz), as a PipeWire desktop has them.
  local module
  for module in "module-null-sink sink_name=desk" \
    "module-null-sink sink_name=iface_in channels=4 channel_map=aux0,aux1,aux2,aux3" \
    "module-remap-source master=iface_in.monitor source_name=iface channels=4 master_channel_map=aux0,aux1,aux2,aux3 channel_map=aux0,aux1,aux2,aux3 remix=no" \
    "module-null-sink sink_name=drain"; do
    # shellcheck disable=SC2086
    wayland_env pactl load-module $module >/dev/null
  done
  # The default is WirePlumber's to keep: it may not be there yet.
  default_is_desk() {
    wayland_env pactl set-default-sink desk 2>/dev/null
    wayland_env pactl info 2>/dev/null | grep -qx 'Default Sink: desk'
  }
  await "the default sink" default_is_desk wireplumber pipewire-pulse || return 1
  # No module-sine here: a player loops one second of a 440 Hz sine (a whole
  # number of periods) into "desk", half loud as that module's.
  if [ ! -s "$state/tone.raw" ]; then
    ffmpeg -v error -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=48000:d=1" \
      -c:a pcm_f32le -f f32le -y "$state/tone.raw"
  fi
  daemon tone env -i "${session_variables[@]}" bash -c "while cat '$state/tone.raw'; do :; done | pacat -d desk --raw \
    --format=float32le --rate=48000 --channels=2 --latency-msec=50 --client-name=tone"
  sound_ready() { wayland_sound_flows desk.monitor && wayland_sound_flows iface; }
  await "sound on desk.monitor and iface" sound_ready pipewire-pulse tone wireplumber
}

start_portal() {
  local proxy
  proxy=$(proxy_program) || return 1
  daemon wayland-proxy env -i "${session_variables[@]}" "$proxy" -v "$run/portal-wayland" "$run/wayland-0"
  proxy_listens() { [ -S "$run/portal-wayland" ]; }
  await "the portal's Wayland proxy" proxy_listens wayland-proxy || return 1
  daemon xdg-desktop-portal-wlr env -i "${session_variables[@]}" WAYLAND_DISPLAY=portal-wayland \
    /usr/libexec/xdg-desktop-portal-wlr -c "$state/xdpw.conf"
  # The portal looks for its backends once, as it starts: one not yet on the
  # bus then (a loaded machine) leaves it without a ScreenCast interface.
  await "the portal's backend" backend_on_bus xdg-desktop-portal-wlr wayland-proxy || return 1
  daemon xdg-desktop-portal env -i "${session_variables[@]}" /usr/libexec/xdg-desktop-portal -r
  await "the ScreenCast portal" portal_answers xdg-desktop-portal xdg-desktop-portal-wlr wayland-proxy
}

# The bar's tray is the StatusNotifier host: it owns the watcher's name.
bar_answers() {
  wayland_env timeout 5 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q 'boolean true'
}
bar_pids() {
  local pid
  for pid in $(daemons_of_this_session); do
    tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q '^waybar' && echo "$pid"
  done
  return 0
}
start_bar() {
  bar_answers && [ -n "$(bar_pids)" ] && return 0
  daemon waybar env -i "${session_variables[@]}" NO_AT_BRIDGE=1 waybar
  await "the bar" bar_answers waybar
}
stop_bar() {
  local pids
  pids=$(bar_pids)
  [ -n "$pids" ] || return 0
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  for _ in $(seq 50); do
    [ -n "$(bar_pids)" ] || break
    sleep 0.1
  done
  pids=$(bar_pids)
  # shellcheck disable=SC2086
  [ -z "$pids" ] || kill -KILL $pids 2>/dev/null || true
  for _ in $(seq 50); do
    bar_answers || return 0
    sleep 0.1
  done
}

start_session() {
  if [ -r "$env_file" ] && session_answers; then return 0; fi
  stop_session
  mkdir -p "$state" "$run" "$home"
  chmod 755 "$state"
  chmod 700 "$run"
  write_configuration
  if ! start_bus || ! start_sway || ! start_sound || ! start_portal || ! start_bar; then
    stop_session
    return 1
  fi
  cat >"$env_file.tmp" <<EOF
export WAYLAND_DISPLAY=wayland-0
export XDG_SESSION_TYPE=wayland
export XDG_CURRENT_DESKTOP=sway
export XDG_RUNTIME_DIR=$run
export DBUS_SESSION_BUS_ADDRESS=unix:path=$bus_socket
export PULSE_SERVER=unix:$pulse_socket
export PULSE_RUNTIME_PATH=$run/pulse
export SWAYSOCK=$run/sway-ipc.sock
unset DISPLAY QT_QPA_PLATFORM
EOF
  mv "$env_file.tmp" "$env_file"
}
