#!/usr/bin/env bash
# Registers the Quenlet voice in a fresh Wine prefix made under the build tree, runs every voicecheck
# group against it, checks the spoken WAVs with soxi and unregisters the voice again.
# Builds nothing.   usage: tools/voice/selftest.sh BUILD_DIR
set -u

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
dll=$build/tools/voice/QuenletVoice.dll
check=$build/tools/voice/voicecheck.exe
for f in "$dll" "$check"; do
  [ -f "$f" ] || { echo "selftest: $f is missing; build quenlet_voice and voicecheck first" >&2; exit 2; }
done
for tool in wine wineboot wineserver soxi; do
  command -v "$tool" >/dev/null || { echo "selftest: $tool is not installed" >&2; exit 2; }
done

work=$(mktemp -d "$build/voice-selftest.XXXXXX")
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The checker sets the voice's configuration itself; nothing from the caller may leak in.
for v in MODE LOG SPEAK_MS WAV_DIR ESPEAK FAIL_CREATE FAIL; do unset "QUENLET_VOICE_$v"; done

failed=0
finish() {
  # Only this prefix's server: other prefixes on the machine keep theirs.
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  if [ $failed -eq 0 ]; then
    rm -rf "$work"
  else
    echo "selftest: kept $work for a look" >&2
  fi
}
trap finish EXIT

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
step() { echo "== $*"; }
bad() { echo "FAIL  $*"; failed=1; }

step "prefix $WINEPREFIX"
timeout 300 wineboot -i >/dev/null 2>&1 || { bad "wineboot -i"; exit 1; }
# No sound card here: keep ALSA quiet; the voice then waits each sentence's length instead.
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1

clsid='{4444485D-2808-44D0-ADD1-0B658D97A1D8}'
step "wine regsvr32 $(winpath "$dll")"
timeout 120 wine regsvr32 /s "$(winpath "$dll")" || bad "regsvr32 failed"
for key in 'HKCR\SAPI.SpVoice\CLSID' 'HKCR\SAPI.SpVoice.1\CLSID'; do
  wine reg query "$key" 2>/dev/null | grep -qi "$clsid" || bad "$key does not name $clsid"
done
wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" 2>/dev/null | grep -q 'ThreadingModel.*Both' ||
  bad "InprocServer32 lacks ThreadingModel Both"

mkdir -p "$work/logs" "$work/wavs"
run() {
  step "voicecheck $*"
  timeout 600 wine "$check" "$@" | tr -d '\r'
  local rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || bad "voicecheck $1 exited with $rc"
}
run units
run calls
run record "$(winpath "$work/logs")"
run fail "$(winpath "$work/logs")"
run config "$(winpath "$work/logs")"
run espeak "$(winpath "$work/wavs")"

# With a sound device: ALSA's null device stands in for a sound card, so waveOut takes the audio.
if [ -f /usr/share/alsa/alsa.conf ]; then
  printf '</usr/share/alsa/alsa.conf>\npcm.!default { type null }\n' > "$work/asound-null.conf"
  wine reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f >/dev/null 2>&1
  ALSA_CONFIG_PATH=$work/asound-null.conf run played "$(winpath "$work/logs")"
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1
else
  echo "== voicecheck played: skipped, no /usr/share/alsa/alsa.conf for a null sound device"
fi

step "soxi -D on the announcement's WAVs"
in_range() { awk -v d="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(d > lo && d < hi) }'; }
d1=$(soxi -D "$work/wavs/announce/001.wav" 2>/dev/null)
d2=$(soxi -D "$work/wavs/announce/002.wav" 2>/dev/null)
echo "      001.wav \"Now is 9:5\": ${d1:-none} s"
echo "      002.wav \"  Today is Friday  8th,February,2013\": ${d2:-none} s"
in_range "${d1:-0}" 0.6 3.0 || bad "001.wav lasts ${d1:-nothing}"
in_range "${d2:-0}" 1.8 6.0 || bad "002.wav lasts ${d2:-nothing}"

step "wine regsvr32 /u"
timeout 120 wine regsvr32 /s /u "$(winpath "$dll")" || bad "regsvr32 /u failed"
wine reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1 && bad "the class key is still there"
wine reg query 'HKCR\SAPI.SpVoice\CLSID' 2>/dev/null | grep -qi "$clsid" && bad "SAPI.SpVoice still names the voice"

if [ $failed -eq 0 ]; then echo "selftest: all passed"; else echo "selftest: FAILED"; fi
exit $failed
