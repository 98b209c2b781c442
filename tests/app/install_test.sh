#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the layout a desktop expects,
# and that a program started through a link finds the engines beside its real file.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in lib/publish_tavisk/publish_tavisk lib/publish_tavisk/libcastorn.so lib/publish_tavisk/libvistrel.so \
            share/applications/publish_tavisk.desktop share/icons/hicolor/48x48/apps/publish_tavisk.png \
            share/metainfo/org.tavisk.publish_tavisk.metainfo.xml share/man/man1/publish_tavisk.1.gz; do
  [[ -e $prefix/$file ]] || { echo "missing: $file"; exit 1; }
done
[[ -L $prefix/bin/publish_tavisk ]] || { echo "bin/publish_tavisk is not a link"; exit 1; }
[[ $(readlink -f "$prefix/bin/publish_tavisk") == $(readlink -f "$prefix/lib/publish_tavisk/publish_tavisk") ]] \
  || { echo "bin/publish_tavisk points elsewhere"; exit 1; }

# The loader resolves its own file through links, as the installed program must.
ln -s "$build/engine_loader_tests" "$prefix/bin/loader_through_link"
"$prefix/bin/loader_through_link" --gtest_filter='EngineLoader.FindsTheLibrariesBesideTheProgram'
echo "install layout ok"
