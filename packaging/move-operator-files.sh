# SPDX-License-Identifier: MIT
# Shared by postinst and postrm (pasted in at build time).
#
# Up to 1.0.0 the operators kept Settings.ini, their CSV files and the comN
# links in the program folder itself. Everything there that is not the
# package's goes to the data folder, moved as it is (same bytes, owners and
# modes). A name already taken in the data folder is never overwritten: the
# moved file then keeps the old name with "old-opt-tarvik-" before it.
move_operator_files() {
    [ -d "$program" ] || return 0
    owned=$(dpkg-query -L tarvik 2>/dev/null || true)
    for entry in "$program"/* "$program"/.[!.]* "$program"/..?*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        if printf '%s\n' "$owned" | grep -qxF -- "$entry"; then
            continue
        fi
        mkdir -p "$data"
        name=${entry##*/}
        dest=$data/$name
        if [ -e "$dest" ] || [ -L "$dest" ]; then
            dest=$data/old-opt-tarvik-$name
            n=2
            while [ -e "$dest" ] || [ -L "$dest" ]; do
                dest=$data/old-opt-tarvik-$n-$name
                n=$((n + 1))
            done
            echo "tarvik: $data/$name already exists and is kept as it is;" \
                 "$entry is moved to $dest"
        else
            echo "tarvik: moving the operators' $entry to $dest"
        fi
        mv -n -T -- "$entry" "$dest"
    done
}
