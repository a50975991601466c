# An editor whose first edit breaks the density and whose later edits mend it.
n=$(cat ~/edits 2>/dev/null || echo 0)
echo $((n + 1)) > ~/edits
if [ "$n" = 0 ]; then d=7Mb; else d=32Mb; fi
sed -i "s#<DEVICE_DENSITY>[^<]*<#<DEVICE_DENSITY>$d<#" "$1"
