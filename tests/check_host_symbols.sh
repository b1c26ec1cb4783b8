#!/bin/sh
# The host reaches the module's rules only through the module file it loads:
# of the module's code its binary holds nothing but what the public headers
# (given after the binary) define inline. Every defined symbol of namespace
# encbridge must be named in them.
set -u
host=$1
shift
symbols=$(nm -C --defined-only "$host") || exit 1
[ -n "$symbols" ] || { echo "nm read no symbols of $host" && exit 1; }
names=$(echo "$symbols" | sed -n 's/^[0-9a-f]* [A-Za-z] \(encbridge::[^( ]*\).*/\1/p' | sort -u)
broken=0
for name in $names; do
    if ! grep -qw -- "${name##*::}" "$@"; then
        echo "the host holds the module's $name"
        broken=1
    fi
done
[ "$broken" -eq 0 ] && echo "host: $(echo "$names" | wc -w) symbols of encbridge::, each from the public headers"
exit "$broken"
