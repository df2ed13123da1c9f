# Libraries the tools build on: libspng (reading PNG), libdeflate and zlib
# (the compression of the PNG we write), CLI11 (arguments) and nlohmann-json
# (JSON), each as one target: zorv_png, zorv_deflate, zorv_cli11, zorv_json.
if(WIN32)
  # Debian packages these for its own architectures only. libspng is built
  # from its source under third_party/ on the static zlib of
  # libz-mingw-w64-dev (the import library would need zlib1.dll beside us);
  # the two header-only libraries come from /usr/include through a folder
  # that holds nothing else, since the rest of /usr/include is the native
  # system's.
  set(SPNG_DIR ${CMAKE_SOURCE_DIR}/third_party/libspng-0.7.3/spng)
  add_library(zorv_png STATIC ${SPNG_DIR}/spng.c)
  target_compile_definitions(zorv_png PUBLIC SPNG_STATIC)
  # Its filters use SSE2, which every processor that runs a current Windows has.
  target_compile_options(zorv_png PRIVATE -w -msse2)
  target_include_directories(zorv_png SYSTEM PUBLIC ${SPNG_DIR})
  target_link_libraries(zorv_png PUBLIC /usr/i686-w64-mingw32/lib/libz.a)

  # libdeflate's compressor and CRC-32 from its source, as libspng.
  set(DEFLATE_DIR ${CMAKE_SOURCE_DIR}/third_party/libdeflate-1.14)
  add_library(zorv_deflate STATIC ${DEFLATE_DIR}/lib/deflate_compress.c ${DEFLATE_DIR}/lib/zlib_compress.c
    ${DEFLATE_DIR}/lib/adler32.c ${DEFLATE_DIR}/lib/crc32.c ${DEFLATE_DIR}/lib/utils.c
    ${DEFLATE_DIR}/lib/x86/cpu_features.c)
  target_compile_definitions(zorv_deflate PUBLIC LIBDEFLATE_STATIC)
  target_compile_options(zorv_deflate PRIVATE -w)
  target_include_directories(zorv_deflate SYSTEM PUBLIC ${DEFLATE_DIR})
  target_link_libraries(zorv_deflate PUBLIC /usr/i686-w64-mingw32/lib/libz.a)

  set(HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
  file(MAKE_DIRECTORY ${HEADER_ONLY_DIR})
  foreach(folder CLI nlohmann)
    if(NOT EXISTS ${HEADER_ONLY_DIR}/${folder})
      file(CREATE_LINK /usr/include/${folder} ${HEADER_ONLY_DIR}/${folder} SYMBOLIC)
    endif()
  endforeach()
  add_library(zorv_cli11 INTERFACE)
  target_include_directories(zorv_cli11 SYSTEM INTERFACE ${HEADER_ONLY_DIR})
  add_library(zorv_json INTERFACE)
  target_include_directories(zorv_json SYSTEM INTERFACE ${HEADER_ONLY_DIR})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
  add_library(zorv_png INTERFACE)
  target_link_libraries(zorv_png INTERFACE PkgConfig::SPNG)
  pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
  add_library(zorv_deflate INTERFACE)
  find_package(ZLIB REQUIRED)
  target_link_libraries(zorv_deflate INTERFACE PkgConfig::DEFLATE ZLIB::ZLIB)
  find_package(CLI11 REQUIRED)
  add_library(zorv_cli11 INTERFACE)
  target_link_libraries(zorv_cli11 INTERFACE CLI11::CLI11)
  find_package(nlohmann_json REQUIRED)
  add_library(zorv_json INTERFACE)
  target_link_libraries(zorv_json INTERFACE nlohmann_json::nlohmann_json)
endif()
