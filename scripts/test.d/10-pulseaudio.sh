# Sourced by test.sh: a PulseAudio sound server without a sound card, for the audio tests.
# A null sink "radio" takes what the tests play; its monitor, remapped to the source "radio_in",
# is what the program records (Qt lists no monitor sources). Safe to run again: a running server
# and loaded modules are reused. Works as root without a desktop session.
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/farscan-runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if ! pactl info >/dev/null 2>&1; then
  pulseaudio -D --exit-idle-time=-1 --disallow-exit --log-target=stderr --log-level=error
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
fi
pactl info >/dev/null
pulse_sinks=$(pactl list short sinks)
if ! grep -q $'\tradio\t' <<<"$pulse_sinks"; then
  pactl load-module module-null-sink sink_name=radio rate=22050 >/dev/null
fi
pulse_sources=$(pactl list short sources)
if ! grep -q $'\tradio_in\t' <<<"$pulse_sources"; then
  pactl load-module module-remap-source master=radio.monitor source_name=radio_in >/dev/null
fi
pactl set-default-source radio_in
unset pulse_sinks pulse_sources
# Tells the audio tests that a sound server is meant to be there.
export FARSCAN_PULSE_READY=1
echo "test: PulseAudio ready (sink radio, source radio_in)"
