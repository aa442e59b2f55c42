# Installs the Debian packages a build needs, when any is missing. Sourced by the other scripts.
# Usage: crenovix_install_packages PACKAGE...

crenovix_install_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ "${#missing[@]}" -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "error: these packages are missing and this is not root: ${missing[*]}" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the product needs.
CRENOVIX_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libhidapi-dev libudev-dev libcurl4-openssl-dev qt6-base-dev)
# What the tests and benchmarks need on top.
CRENOVIX_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev libssl-dev clang-format
                        xvfb xauth x11-utils umockdev libumockdev-dev)
# What making and checking the Debian package needs on top of the build.
CRENOVIX_PACKAGE_PACKAGES=(dpkg-dev file lintian appstream desktop-file-utils)

# The warnings-as-errors choice for the README's commands, as a CMake argument. CI keeps warnings
# as errors on every release it builds on (it sets CI=true); elsewhere a warning that a newer
# compiler or library raises does not stop a user's build. CRENOVIX_WERROR=ON or OFF decides.
crenovix_werror_argument() {
    local werror="${CRENOVIX_WERROR:-}"
    if [ -z "$werror" ]; then
        if [ "${CI:-}" = true ]; then werror=ON; else werror=OFF; fi
    fi
    echo "-DCRENOVIX_WERROR=$werror"
}
