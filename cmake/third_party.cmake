# Libraries the tools build on: libspng (PNG), CLI11 (arguments) and
# nlohmann-json (JSON), each as one target: zorv_png, zorv_cli11, zorv_json.
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
  find_package(CLI11 REQUIRED)
  add_library(zorv_cli11 INTERFACE)
  target_link_libraries(zorv_cli11 INTERFACE CLI11::CLI11)
  find_package(nlohmann_json REQUIRED)
  add_library(zorv_json INTERFACE)
  target_link_libraries(zorv_json INTERFACE nlohmann_json::nlohmann_json)
endif()
