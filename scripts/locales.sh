#!/bin/sh
# The tests run Wine and the Linux tool under these locales; Wine garbles
# arguments in a locale that was never generated.
set -eu
if [ "$(id -u)" -eq 0 ]; then as_root=; else as_root=sudo; fi
for locale in ja_JP en_US de_DE; do
    if ! locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$"; then
        $as_root localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
    fi
done
