#!/usr/bin/env bash
# The layers of the library include only downwards (docs/architecture.md),
# the simulator sees of the library only the public header and the driver
# interface, and the tool only the public header and the host's one
# internal header, which itself includes only the public header.  An
# include that breaks the rule is named here.
set -euo pipefail
export LC_ALL=C
source_dir=$2
cd "$source_dir"

# Folder of src/ -> the src/ folders it may include besides its own.
declare -A allowed=(
  [platform]=""
  [transport]="platform"
  [protocol]="platform transport"
  [firmware]="platform protocol"
  [mmc]="platform transport protocol"
  [media]="platform transport protocol firmware mmc"
  [api]="platform transport protocol firmware mmc media"
  [host]="platform transport protocol firmware mmc media api"
)
layers="${!allowed[*]}"
status=0

# src/ folder a quoted include names, or nothing when it is not one of them.
layer_of() {
  local top=${1%%/*}
  [[ " $layers " == *" $top "* && $1 == */* ]] && echo "$top" || true
}

for folder in $layers; do
  while IFS=: read -r file include; do
    target=$(layer_of "$include")
    [ -z "$target" ] || [ "$target" = "$folder" ] && continue
    [[ " ${allowed[$folder]} " == *" $target "* ]] && continue
    echo "$file includes $include: $folder may not include $target"
    status=1
  done < <(grep -rHoE '#include "[^"]+"' "src/$folder" | sed -E 's/:#include "(.*)"$/:\1/')
done

# The simulator and the tool: includes that are not their own files.
check_outside() {
  local dir=$1 rule=$2
  while IFS=: read -r file include; do
    [ -e "$(dirname "$file")/$include" ] || [ -e "$dir/$include" ] && continue
    [ -n "$(layer_of "$include")" ] || continue
    [[ $include =~ $rule ]] && continue
    echo "$file includes $include from the library"
    status=1
  done < <(grep -rHoE '#include "[^"]+"' "$dir" | sed -E 's/:#include "(.*)"$/:\1/')
}
check_outside sim '^platform/device_driver\.h$'
check_outside tools '^host/host_internals\.h$'

# The tool's one internal header is its whole view of the library: it
# includes nothing of src/ itself, so no internal name reaches the tool
# through it (the library answers the tool with the functions and plain
# values it declares).
while IFS=: read -r file include; do
  [ -n "$(layer_of "$include")" ] || continue
  echo "$file includes $include: the tool's view of the library includes no internal header"
  status=1
done < <(grep -HoE '#include "[^"]+"' src/host/host_internals.h | sed -E 's/:#include "(.*)"$/:\1/')

# The tool's floors (docs/architecture.md): each folder of tools/ may
# include the floors below it, never one above or beside it; the faces
# (web, terminal) sit on top.  Its folder names differ from the library's,
# so an include never resolves by the order of the include paths.
declare -A tool_allowed=(
  [base]=""
  [target]="base"
  [firmware_set]="base"
  [journal]="base target firmware_set"
  [player]="base target firmware_set"
  [app]="base target firmware_set journal player"
  [web]="base target firmware_set journal player app"
  [terminal]="base target firmware_set journal player app web"
)
tool_floors="${!tool_allowed[*]}"
for folder in tools/*/; do
  folder=$(basename "$folder")
  if [[ " $layers " == *" $folder "* ]]; then
    echo "tools/$folder has the name of a folder of src/"
    status=1
  fi
  if [[ " $tool_floors " != *" $folder "* ]]; then
    echo "tools/$folder is on no floor of the tool (add it to this script and the docs)"
    status=1
    continue
  fi
  while IFS=: read -r file include; do
    top=${include%%/*}
    [[ $include == */* && " $tool_floors " == *" $top "* ]] || continue
    [ "$top" = "$folder" ] && continue
    [[ " ${tool_allowed[$folder]} " == *" $top "* ]] && continue
    echo "$file includes $include: tools/$folder may not include tools/$top"
    status=1
  done < <(grep -rHoE '#include "[^"]+"' "tools/$folder" | sed -E 's/:#include "(.*)"$/:\1/')
done

exit $status
