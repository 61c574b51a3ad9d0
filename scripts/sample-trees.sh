# The sample Ombrix versions of the demonstration and of the Windows
# standalone check: build 39979 (a few hundred files in nested folders) and
# later versions made from it. make_base_tree copies the diff tool and the
# game utility from $sample_vpatch and $sample_util into its bin folder.
# Sourced, not run.

# A file of about `size` bytes: a text header naming it, then random bytes,
# so every file (and every launcher build) differs.
write_file() {
  local path=$1 size=$2 tag=$3
  mkdir -p "$(dirname "$path")"
  {
    printf 'Ombrix asset %s (%s)\n' "${path##*/}" "$tag"
    head -c "$size" /dev/urandom
  } >"$path"
}

# Version 39979: the launcher, the game's tools and data in nested folders.
make_base_tree() {
  local tree=$1 i j
  write_file "$tree/bin/Launcher.exe" 200000 launcher-39979
  write_file "$tree/bin/Ombrix.exe" 600000 game-39979
  cp "$sample_vpatch" "$tree/bin/vpatchl-w32.exe"
  cp "$sample_util" "$tree/bin/OmbrixUtil.exe"
  for i in $(seq 1 12); do
    for j in $(seq 1 15); do write_file "$tree/data/textures/set$i/tex$j.dds" $((4000 + i * 700 + j * 31)) "tex-$i-$j"; done
  done
  for i in $(seq 1 6); do
    for j in $(seq 1 10); do write_file "$tree/data/maps/region$i/sector$j.map" $((9000 + j * 113)) "map-$i-$j"; done
  done
  for i in $(seq 1 40); do write_file "$tree/data/scripts/script$i.lua" $((800 + i * 17)) "lua-$i"; done
  write_file "$tree/data/sound/music/theme.ogg" 1500000 theme
  write_file "$tree/readme.txt" 2000 readme
}

# Appends a few bytes to a file and rewrites some in its middle: a change the
# archive builder ships as a diff.
edit_file() {
  local path=$1 seed=$2
  printf 'patched by %s\n' "$seed" >>"$path"
  printf '%s' "$seed" | dd of="$path" bs=1 seek=100 conv=notrunc status=none
}

# A later version: a new launcher, about a tenth of the files changed, some
# new files, some removed.
make_next_tree() {
  local from=$1 tree=$2 version=$3 i
  rm -rf "$tree"
  cp -a "$from" "$tree"
  write_file "$tree/bin/Launcher.exe" 200000 "launcher-$version"
  edit_file "$tree/bin/Ombrix.exe" "game-$version"
  for i in $(seq 1 3 12); do edit_file "$tree/data/textures/set$i/tex2.dds" "$version-$i"; done
  for i in $(seq 1 2 6); do edit_file "$tree/data/maps/region$i/sector3.map" "$version-$i"; done
  for i in $(seq 1 5); do edit_file "$tree/data/scripts/script$((i * 7)).lua" "$version-$i"; done
  for i in $(seq 1 8); do write_file "$tree/data/expansion$version/part$i.pak" $((20000 + i * 999)) "pak-$version-$i"; done
  rm -f "$tree/data/textures/set4/tex$((version % 7 + 1)).dds" "$tree/data/scripts/script$((version % 5 + 2)).lua"
}
