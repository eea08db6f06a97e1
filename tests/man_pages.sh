#!/usr/bin/env bash
# The manual pages against the programs they describe: each command and
# option that --help lists is in the page and each one the page lists is in
# --help; --version and the pages carry the project's version; man reads the
# pages without a warning (as lintian does). The window answers --help and
# --version without a display.
#
# Usage: man_pages.sh MAN_DIR CLI WINDOW VERSION
set -euo pipefail
man_dir=$1
cli=$2
window=$3
version=$4
fail() { echo "FAIL: $*" >&2; exit 1; }

export LC_ALL=C.UTF-8 MANWIDTH=250 MANROFFSEQ=
rendered() { man -l "$man_dir/$1.1" 2>/dev/null | col -b; }
# The tags of a section's entries (their first word), sorted.
tags() { awk -v s="$2" '/^[A-Z]/ { on = ($0 == s) } on && /^       [^ ]/ { print $1 }' <<<"$1" | tr -d , | sort -u; }
long_options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
short_options() { grep -oE -- '(^|[ ,])-[a-z]([ ,]|$)' | tr -d ' ,' | sort -u; }
# The words of $1 on one line, for a message (not globbed: the texts hold *.inc).
words() { local -a w; read -d '' -ra w <<<"$1" || true; echo "${w[*]}"; }
same() { [[ $2 == "$3" ]] || fail "$1 differ:"$'\n'"--help: $(words "$2")"$'\n'"page:   $(words "$3")"; }

for program in borvantel-cli borvantel; do
  [[ $program == borvantel ]] && command=$window || command=$cli
  warnings=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$man_dir/$program.1" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man warns about $program.1: $warnings"
  page=$(rendered "$program")
  # No display and no platform: a window program that made its application here would fail.
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$command" --help) || fail "$program --help failed"
  got=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$command" --version) || fail "$program --version failed"
  [[ $got == "$program $version" ]] || fail "$program --version says '$got', the project's version is $version"
  [[ $(tail -n 1 <<<"$page") == *"borvantel $version"* ]] || fail "$program.1 is not of version $version"
  grep -q '^Pliki programu (kategorie.txt, predef.txt): „' <<<"$help" ||
    fail "$program --help does not say where the program files are"
  same "$program's long options" "$(long_options <<<"$help")" "$(long_options <<<"$page")"
  same "$program's short options" "$(short_options <<<"$help")" "$(short_options <<<"$page")"
done

# The commands of borvantel-cli: the first word of each entry of the usage
# and of the page's COMMANDS.
help_commands=$("$cli" --help | awk '/^  [a-z]/ { print $1 }' | sort -u)
page_commands=$(tags "$(rendered borvantel-cli)" COMMANDS)
[[ $(wc -l <<<"$help_commands") -ge 10 ]] || fail "too few commands in --help: $help_commands"
same "borvantel-cli's commands" "$help_commands" "$page_commands"
echo "man pages: ok ($(wc -l <<<"$help_commands") commands)"
