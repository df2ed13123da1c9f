#!/usr/bin/env bash
# Builds the three WebAssembly modules the browser viewer's worker runs, into
# web/build/wasm/ (or the folder given as $1):
#   zorvpict.js  the picture plug-in, from picture/ and frame/ on the stand-in
#   zorvpack.js  the archive plug-in, from archive/ and frame/ on the stand-in
#   zorvhost.js  host/ (pixels, names, safe paths, globs, PNG) and its glue
# Each plug-in is a module of its own, as each is a DLL of its own, built
# with the DLLs' flags (no exceptions, no RTTI) and exporting the same entry
# points, plus the stand-in's block services the host needs to take over
# what a plug-in hands it. Each .js holds its .wasm inline (SINGLE_FILE), so
# the page needs no fetch. Files are read where they lie through WORKERFS
# (in a worker) or NODEFS (under node, for the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-web/build/wasm}
mkdir -p "$out"

# Debian's emscripten runs its JavaScript tools on the system's node.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

# WebAssembly SIMD: kept, as it pays in the host (a 2048x2048 24-bit picture
# to PNG: 219 ms of processor time with it, 245 ms without, under node);
# GetPicture's speed is the same either way (bench/web_decode_bench.py --also).
# Every browser that runs the page's other features has it.
# ZORV_WASM_SIMD= (empty) builds without it, for the comparison.
simd=${ZORV_WASM_SIMD--msimd128}
# With SIMD, host/'s SSE2 code (the PNG filters) is compiled too: emscripten
# turns its intrinsics into WebAssembly SIMD. Kept, as it pays: a 2048x2048
# 24-bit picture to PNG in 248 ms of processor time with it, 347 ms without
# (0.72x; 8-bit palette 0.92x), under node: bench/web_png_bench.mjs --also
# on a build made with ZORV_WASM_SSE2= (empty), which leaves it out.
sse2=${ZORV_WASM_SSE2-${simd:+-msse2}}
# Objects are kept between runs and made again when their source or any
# header is newer; a change of flags here wants a fresh folder.
objects=$root/build/wasm-objects${simd:+-simd}${sse2:+-sse2}-wasmeh
mkdir -p "$objects"

plugin_flags=(-std=c++17 -O3 -fno-exceptions -fno-rtti -fno-threadsafe-statics $simd
              -Iplatform -Iframe -Wall -Wextra)
# The host throws and catches, as in zorv: with WebAssembly's own exceptions
# (and emscripten's libraries built for them), not emscripten's emulation,
# which calls every function that may throw through JavaScript. Opening the
# 65,535-entry test archive under node: 374 ms against 397 (medians of 8,
# interleaved), and 50 KB less.
host_exceptions=(-fwasm-exceptions)
host_flags=(-std=c++17 -O2 $simd $sse2 "${host_exceptions[@]}" -Iplatform -Iframe -Ihost -Ifiles -Iwriter -Ithird_party/libspng-0.7.3/spng
            -Ithird_party/zlib-1.2.13 -Ithird_party/libdeflate-1.14 -DSPNG_STATIC -DLIBDEFLATE_STATIC -Wall -Wextra)
# What every module's JavaScript carries: a factory (MODULARIZE), the file
# system, memory that grows, no exit. Each module is linked twice from the
# same objects: for the browser's worker (files read through WORKERFS) and
# for node (NODEFS), where the tests run them on fixture files.
# ZORV_WASM_PROFILE=1 keeps the functions' names, for a profiler's reading.
common_link=(-O3 ${ZORV_WASM_PROFILE:+--profiling-funcs} -sMODULARIZE=1 -sSINGLE_FILE=1 -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=4MB
             -sTOTAL_STACK=1MB -sFILESYSTEM=1 --no-entry --js-library web/wasm/large_files.js
             "-sEXPORTED_RUNTIME_METHODS=['FS','HEAPU8','HEAP32','HEAPU32']")
block_exports="'_GlobalAlloc','_GlobalLock','_GlobalUnlock','_GlobalSize','_GlobalFree','_malloc','_free'"

link() {  # link NAME EXPORT_NAME EXPORTED_FUNCTIONS OBJECTS-AND-FLAGS...
  local name=$1 exportName=$2 functions=$3
  shift 3
  mkdir -p "$out/browser" "$out/node"
  em++ "${common_link[@]}" "$@" -sEXPORT_NAME="$exportName" "-sEXPORTED_FUNCTIONS=[$functions]" \
    -sENVIRONMENT=worker -lworkerfs.js -o "$out/browser/$name.js"
  em++ "${common_link[@]}" "$@" -sEXPORT_NAME="$exportName" "-sEXPORTED_FUNCTIONS=[$functions]" \
    -sENVIRONMENT=node -lnodefs.js -o "$out/node/$name.js"
}

compile() {  # compile OUTPUT SOURCE FLAGS...: again when the source or any header is newer
  local output=$1 source=$2
  shift 2
  if [ ! -f "$output" ] || [ "$source" -nt "$output" ] ||
     [ -n "$(find frame platform host files writer web/wasm -newer "$output" -name '*.h' 2>/dev/null | head -1)" ]; then
    em++ "$@" -c "$source" -o "$output"
  fi
}

frame_sources=(frame/plugin_frame.cpp frame/file_reading.cpp frame/read_ahead.cpp frame/module_entry.cpp
               platform/win32_standin.cpp)

build_plugin() {  # build_plugin NAME EXPORT_NAME EXPORTS SOURCES...
  local name=$1 exportName=$2 exports=$3
  shift 3
  local objs=()
  for source in "${frame_sources[@]}" "$@"; do
    local obj=$objects/$name-$(basename "${source%.cpp}").o
    compile "$obj" "$source" "${plugin_flags[@]}" -I"$(dirname "$source")"
    objs+=("$obj")
  done
  link "$name" "$exportName" "$exports,$block_exports" "${objs[@]}"
}

build_plugin zorvpict ZorvPict "'_GetPluginInfo','_IsSupported','_GetPictureInfo','_GetPicture'" \
  picture/lzss_decoder.cpp picture/packed_bitmap.cpp picture/picture_exports.cpp
build_plugin zorvpack ZorvPack "'_GetPluginInfo','_IsSupported','_GetArchiveInfo','_GetFileInfo','_GetFile'" \
  archive/archive_exports.cpp archive/archive_probe.cpp archive/directory_cache.cpp \
  archive/extract_entry.cpp archive/pw_audio.cpp

# The host: host/ as zorv links it, on the stand-in, with the plug-ins
# reached through web/wasm/plugin_bridge.* in place of host/plugin_module.cpp,
# and web/wasm/host_glue.cpp in place of cli/. nlohmann-json from a folder
# that holds nothing else of the system's headers.
mkdir -p "$objects/include"
[ -e "$objects/include/nlohmann" ] || ln -s /usr/include/nlohmann "$objects/include/nlohmann"
host_objs=()
# From writer/, what describes an archive for the manifest a ZIP carries, as
# zorv extract writes one (the linker keeps only what that reaches).
writer_sources=(writer/manifest.cpp writer/manifest_reader.cpp writer/content_hash.cpp writer/atomic_file.cpp
                writer/source_file.cpp writer/archive_writer.cpp)
for source in $(ls host/*.cpp | grep -v plugin_module.cpp) files/input_file.cpp files/path_case.cpp platform/win32_standin.cpp \
              "${writer_sources[@]}" \
              web/wasm/plugin_bridge.cpp web/wasm/host_glue.cpp; do
  obj=$objects/host-$(basename "${source%.cpp}").o
  compile "$obj" "$source" "${host_flags[@]}" -isystem "$objects/include"
  host_objs+=("$obj")
done
# libspng and zlib for reading PNG; libdeflate (and zlib, for streams of
# literals) for writing it, as zorv's Windows build takes them.
for source in third_party/libspng-0.7.3/spng/spng.c third_party/zlib-1.2.13/{adler32,compress,crc32,deflate,inffast,inflate,inftrees,trees,zutil}.c \
              third_party/libdeflate-1.14/lib/{deflate_compress,zlib_compress,adler32,crc32,utils}.c; do
  obj=$objects/c-$(basename "$(dirname "$source")")-$(basename "${source%.c}").o
  [ -f "$obj" ] || emcc -O2 $simd -w -DSPNG_STATIC -DLIBDEFLATE_STATIC -Ithird_party/zlib-1.2.13 -Ithird_party/libdeflate-1.14 \
    -c "$source" -o "$obj"
  host_objs+=("$obj")
done
link zorvhost ZorvHost "$block_exports" "${host_objs[@]}" "${host_exceptions[@]}" \
  --js-library web/wasm/plugin_bridge.js
ls -l "$out"/*/
