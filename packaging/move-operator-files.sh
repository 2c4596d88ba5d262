# SPDX-License-Identifier: MIT
# Shared by postinst and postrm (pasted in at build time).
#
# Up to 1.0.0 the operators kept Settings.ini, their CSV files and the comN
# links in the program folder itself. Everything there that is not the
# package's goes to the data folder, moved as it is (same bytes, owners and
# modes). A name already taken in the data folder is never overwritten: the
# moved file then keeps the old name with "old-opt-tarvik-" before it.
#
# Every operator may create names in the data folder at any moment, so no
# name there is looked at before a move (a name found free can be taken
# before the move; mv -n then skips and says nothing). Instead:
#  1. everything foreign in the program folder goes at once to a new folder
#     beside the data folder that only root can enter, so nothing another
#     user does decides what stays in the program folder;
#  2. from there each file is renamed into the data folder without replacing
#     anything (mv -n renames with RENAME_NOREPLACE, or copies with O_EXCL
#     across file systems); one still there afterwards lost its name to
#     another operator and is tried under the next;
#  3. what finds no name stays in that root-only folder, named in the output;
#  4. last, the program folder is checked to hold the package's files only,
#     and anything else is moved to a root-only folder named in the output.

# A new folder only root can enter, beside the data folder (its parent is
# root's, so no operator can rename the folder or put one in its place).
tarvik_root_only_folder() {
    parent=$(dirname -- "$data")
    mkdir -p "$parent" && mktemp -d "$parent/tarvik-upgrade.XXXXXX"
}

# The entries of folder $1 that the package does not own, one per call of
# the function named $2 (names may hold any character but '/').
tarvik_each_foreign() {
    for entry in "$1"/* "$1"/.[!.]* "$1"/..?*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue
        if printf '%s\n' "$owned" | grep -qxF -- "$entry"; then
            continue
        fi
        "$2" "$entry"
    done
}

tarvik_stage_one() {
    [ -n "$stage" ] || stage=$(tarvik_root_only_folder) || stage=
    # Without that folder it stays for the last check.
    [ -z "$stage" ] || mv -T -- "$1" "$stage/${1##*/}" || true
}

# Renames $1 (in the root-only folder) into the data folder under the first
# free name, never replacing one.
tarvik_place_one() {
    name=${1##*/}
    n=1
    while [ "$n" -le 50 ]; do
        case $n in
        1) dest=$data/$name ;;
        2) dest=$data/old-opt-tarvik-$name ;;
        *) dest=$data/old-opt-tarvik-$((n - 1))-$name ;;
        esac
        if mv -n -T -- "$1" "$dest" && ! { [ -e "$1" ] || [ -L "$1" ]; }; then
            if [ "$n" -eq 1 ]; then
                echo "tarvik: moving the operators' $program/$name to $dest"
            else
                echo "tarvik: $data/$name already exists and is kept as it is;" \
                     "$program/$name is moved to $dest"
            fi
            return 0
        fi
        # Still here: the name was taken (then try the next), or the move
        # failed for another reason (then stop).
        [ -e "$dest" ] || [ -L "$dest" ] || break
        n=$((n + 1))
    done
    echo "tarvik: $program/$name is kept in $stage, which only root can open:" \
         "no free name for it in $data"
}

tarvik_evict_one() {
    [ -n "$evicted" ] || evicted=$(tarvik_root_only_folder) || evicted=
    if [ -n "$evicted" ] && mv -T -- "$1" "$evicted/${1##*/}"; then
        echo "tarvik: $1 was still in $program and is moved to $evicted," \
             "which only root can open"
    else
        echo "tarvik: error: $1 cannot be moved out of $program;" \
             "remove it: every operator runs what is there" >&2
        evict_failed=1
    fi
}

move_operator_files() {
    [ -d "$program" ] || return 0
    owned=$(dpkg-query -L tarvik 2>/dev/null || true)
    stage=
    evicted=
    evict_failed=
    tarvik_each_foreign "$program" tarvik_stage_one
    if [ -n "$stage" ]; then
        mkdir -p "$data"
        owned=
        tarvik_each_foreign "$stage" tarvik_place_one
        rmdir "$stage" 2>/dev/null || true
    fi
    owned=$(dpkg-query -L tarvik 2>/dev/null || true)
    tarvik_each_foreign "$program" tarvik_evict_one
    [ -z "$evict_failed" ]
}
