# Win32 programs (tests and benchmarks) that load the real .SPI files the
# way a host does, run under Wine.

set(SUPPORT_DIR ${CMAKE_SOURCE_DIR}/tests/support)
set(HOST_HARNESS ${CMAKE_SOURCE_DIR}/tests/win32/host_harness.cpp)
# A prefix of our own inside the build tree, no debug chatter, and no
# installer dialogs for components the programs never use.
set(WINE_ENVIRONMENT
  WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
  WINEDEBUG=-all
  "WINEDLLOVERRIDES=mscoree,mshtml=")

set(PICTURE_FIXTURES ${SUPPORT_DIR}/bitmap_builder.cpp ${SUPPORT_DIR}/lzss_test_codec.cpp
  ${SUPPORT_DIR}/temp_files.cpp)
set(ARCHIVE_FIXTURES ${SUPPORT_DIR}/archive_builder.cpp)

# Self-contained programs: the static runtime, so Wine needs no mingw DLLs.
function(zorv_win32_program name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/win32 ${SUPPORT_DIR})
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(${name} PRIVATE version)
  # GCC 12 at -O3 reports false out-of-bounds copies in the archive
  # builder's vector inserts. (Set in the calling folder's scope.)
  set_source_files_properties(${ARCHIVE_FIXTURES} PROPERTIES
    COMPILE_OPTIONS "-Wno-array-bounds;-Wno-stringop-overread")
endfunction()
