# shellcheck shell=bash
# Sourced by scripts/windows-tests.sh outside the sandbox: checks the tools, brings the builds up to date and
# runs windows-tests.sh again inside private mount and network namespaces. Needs $SELF, $build and the
# arguments to pass on in $ARGS.

T_START=$(ms)
missing=()
for tool in cmake ctest ninja Xvfb "$WINE_LOADER" /usr/lib/wine/wineserver wineboot "$OBJDUMP" \
    x86_64-w64-mingw32-g++-posix unshare mount timeout cmp stat; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "missing tools: ${missing[*]} (install the packages of scripts/deps.sh)"
    echo "windows: 0 passed, 1 failed (tools missing)"
    exit 1
fi

built() {
    "$@" </dev/null || {
        say "'$*' failed"
        echo "windows: 0 passed, 1 failed (build failed)"
        exit 1
    }
}
if [ ! -f "$WIN_BUILD/build.ninja" ]; then
    built cmake --preset windows
fi
if $build || [ ! -f "$WIN_NVLOGO" ]; then
    built cmake --build --preset windows
fi
linux_targets=()
if $build; then
    linux_targets=(nvlogo nvlogo-printer)
else
    [ -x "$LINUX_NVLOGO" ] || linux_targets+=(nvlogo)
    [ -x "$LINUX_PRINTER" ] || linux_targets+=(nvlogo-printer)
fi
if [ ! -f "$ROOT/build/linux/build.ninja" ] && [ ${#linux_targets[@]} -gt 0 ]; then
    built cmake --preset linux
fi
if [ ${#linux_targets[@]} -gt 0 ]; then
    built cmake --build --preset linux --target "${linux_targets[@]}"
fi
say "builds ready in $((($(ms) - T_START) / 1000)) s"

# Mount and network namespaces; as a normal user they need a user namespace of their own.
if [ "$(id -u)" -eq 0 ]; then
    base=(unshare --mount --propagation private)
else
    base=(unshare --map-root-user --mount --propagation private)
fi
if ! "${base[@]}" true </dev/null >/dev/null 2>&1; then
    say "cannot create a private mount namespace (${base[*]} failed); refusing to run Wine where it could"
    say "open the host's serial ports. Run as root, or allow unprivileged user namespaces."
    echo "windows: 0 passed, 1 failed (no mount namespace)"
    exit 1
fi
netns=0
if ! command -v ip >/dev/null 2>&1 && ! command -v python3 >/dev/null 2>&1; then
    say "warning: neither ip (iproute2) nor python3 to bring up loopback; Wine keeps the host's network"
elif ! "${base[@]}" --net true </dev/null >/dev/null 2>&1; then
    say "warning: no private network namespace; Wine keeps the host's network"
else
    netns=1
fi
ns=("${base[@]}")
[ "$netns" -eq 1 ] && ns+=(--net)
TESSERA_WINE_SANDBOX=1 TESSERA_WINE_NETNS=$netns TESSERA_T_START=$T_START exec "${ns[@]}" -- bash "$SELF" "${ARGS[@]}" </dev/null
