set -e
export CCACHE_DIR=/root/.cache/ccache
rm -rf /root/tide-ext && git clone -q /src /root/tide-ext && cd /root/tide-ext
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDE_MACOS_CHECK=OFF -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build --target tide >/dev/null
mkdir -p /tmp/shots48
for s in ${SESSIONS:-wayland}; do TIDE_E2E_SHOTS=/tmp/shots48 bash tests/desktops/${TEST:-gnome_extension}_test.sh build $s 2>&1 | grep -v dbus-daemon || true; done
cp -r /tmp/shots48 /src/.shots48 || true
