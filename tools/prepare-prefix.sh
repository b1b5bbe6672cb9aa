#!/bin/sh
# Make (if missing) and configure the 64-bit Wine prefix that runs Quenlet.
# Safe to run again on a prepared prefix: every setting is applied anew.
#
#   tools/prepare-prefix.sh PREFIX [--voice-dll PATH] [--voice-mode record|espeak]
set -eu

usage() {
    echo "usage: $0 PREFIX [--voice-dll PATH] [--voice-mode record|espeak]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
prefix=$1
shift
voice_dll=
voice_mode=
while [ $# -gt 0 ]; do
    case $1 in
        --voice-dll) [ $# -ge 2 ] || usage; voice_dll=$2; shift 2 ;;
        --voice-mode) [ $# -ge 2 ] || usage; voice_mode=$2; shift 2 ;;
        *) usage ;;
    esac
done
case $voice_mode in
    ''|record|espeak) ;;
    *) echo "$0: --voice-mode must be record or espeak" >&2; exit 2 ;;
esac
if [ -n "$voice_dll" ] && [ ! -f "$voice_dll" ]; then
    echo "$0: voice DLL not found: $voice_dll" >&2
    exit 1
fi

case $prefix in
    /*) ;;
    *) prefix=$(pwd)/$prefix ;;
esac
if [ -n "$voice_dll" ]; then
    case $voice_dll in
        /*) ;;
        *) voice_dll=$(pwd)/$voice_dll ;;
    esac
fi

WINEPREFIX=$prefix
WINEARCH=win64
WINEDEBUG=-all
# mscoree/mshtml off: no Mono or Gecko install prompts. winemenubuilder off: a
# throw-away prefix must not write menu entries into the user's home.
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES

log() { echo "prepare-prefix: $*" >&2; }

fresh=no
if [ ! -f "$prefix/system.reg" ]; then
    fresh=yes
    log "creating $prefix"
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || { log "wineboot -i failed"; exit 1; }
fi

# HACK: Wine 8 does not load /usr/share/wine/fonts, so "Tahoma" would silently
# become DejaVu Sans; fonts in the prefix's Fonts folder are loaded.
fonts=$prefix/drive_c/windows/Fonts
mkdir -p "$fonts"
for f in /usr/share/wine/fonts/tahoma*.ttf; do
    [ -f "$f" ] || { log "no Tahoma in /usr/share/wine/fonts (install fonts-wine)"; exit 1; }
    cmp -s "$f" "$fonts/${f##*/}" || cp -f "$f" "$fonts/"
done
cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
[ -f "$cjk" ] || { log "no $cjk (install fonts-wqy-microhei)"; exit 1; }
cmp -s "$cjk" "$fonts/wqy-microhei.ttc" || cp -f "$cjk" "$fonts/"

# The registry settings go in one regedit run: each wine start costs time.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# REG_MULTI_SZ from an ANSI .reg file: regedit widens the bytes itself.
# "wqy-microhei.ttc\0WenQuanYi Micro Hei\0\0"
multi_sz_hex() {
    printf '%s\000' "$@" | od -An -v -tx1 | tr -s ' \n' '  ' |
        sed 's/^ *//; s/ *$//; s/ /,/g; s/$/,00/'
}
link=$(multi_sz_hex "wqy-microhei.ttc" "WenQuanYi Micro Hei")

{
    echo 'Windows Registry Editor Version 5.00'
    echo
    # Chinese captions are boxes unless Tahoma is linked to a CJK font.
    echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]'
    echo "\"Tahoma\"=hex(7):$link"
    echo
    # No sound card here: an empty driver list keeps ALSA quiet.
    echo '[HKEY_CURRENT_USER\Software\Wine\Drivers]'
    echo '"Audio"=""'
    if [ -n "$voice_mode" ]; then
        echo
        echo '[HKEY_CURRENT_USER\Software\Quenlet\Voice]'
        echo "\"QUENLET_VOICE_MODE\"=\"$voice_mode\""
    fi
} > "$tmp/settings.reg"

# Drive Z: is the Unix root in every prefix (winepath would cost one more wine start).
reg_file="Z:$(printf '%s' "$tmp/settings.reg" | tr / '\\')"
wine regedit /S "$reg_file" >/dev/null 2>&1 || { log "regedit failed"; exit 1; }

if [ -n "$voice_dll" ]; then
    # HACK: Wine: `wineboot -u` (run by Wine itself after an upgrade) gives the
    # ProgID SAPI.SpVoice back to Wine's own voice, so register every time.
    wine regsvr32 /s "$voice_dll" >/dev/null 2>&1 || { log "regsvr32 $voice_dll failed"; exit 1; }
fi

# Let the prefix settle: the registry reaches disk when the wineserver ends.
if [ $fresh = yes ]; then
    # A prefix made just now has no other user: end Wine's idle services at once rather
    # than wait about 5 s for them to time out. Everything above has already returned.
    wineserver -k 2>/dev/null || true
fi
# A wineserver kept alive for ever by someone else would block here, hence the deadline.
if command -v timeout >/dev/null 2>&1; then
    timeout 120 wineserver -w || log "wineserver did not end within 120 s (is a persistent one running?)"
else
    wineserver -w
fi
