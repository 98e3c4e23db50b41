# Sourced by the guest runners: puts kernel modules, uncompressed, into the
# guest's initramfs with their dependencies first, as modules.dep orders them.
#   guest_modules MODULES_DIR ROOT NAME...
# Writes ROOT/lib/modules/NAME.ko and the load order to ROOT/modules; a module
# built into the kernel is left out. Prints why and returns 1 when one is missing.

# unpack_module FILE OUT: busybox insmod wants plain modules.
unpack_module() {
    local unpack
    case $1 in
        *.ko) unpack=(cat) ;;
        *.ko.xz) unpack=(xz -dc) ;;
        *.ko.zst) unpack=(zstd -qdc) ;;
        *.ko.gz) unpack=(gzip -dc) ;;
        *) echo "unknown module format: $1"; return 1 ;;
    esac
    command -v "${unpack[0]}" >/dev/null || { echo "${unpack[0]} is needed to unpack $1"; return 1; }
    "${unpack[@]}" "$1" >"$2"
}

guest_modules() {
    local dir=$1 root=$2 name
    shift 2
    local -A done=()
    local -a order=()
    mkdir -p "$root/lib/modules"
    # add PATH: its dependencies, then itself (paths as modules.dep names them).
    add() {
        local path=$1 dep base
        [ -n "${done[$path]:-}" ] && return 0
        done[$path]=1
        for dep in $(grep -m1 "^$path:" "$dir/modules.dep" | cut -d: -f2); do add "$dep" || return 1; done
        base=$(basename "$path")
        base=${base%%.ko*}
        unpack_module "$dir/$path" "$root/lib/modules/$base.ko" || return 1
        order+=("$base")
    }
    for name in "$@"; do
        local pattern="/${name//[-_]/[-_]}\.ko"
        local path
        path=$(grep -oE "^[^:]*$pattern[^:]*" "$dir/modules.dep" | head -n 1)
        if [ -z "$path" ]; then
            grep -qE "$pattern" "$dir/modules.builtin" 2>/dev/null && continue
            echo "module $name not found under $dir"
            return 1
        fi
        add "$path" || return 1
    done
    printf '%s\n' "${order[@]}" >"$root/modules"
}
