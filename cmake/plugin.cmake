# zorv_plugin(<target> MODULE_FILE <name> DEF <file.def> RC <file.rc> SOURCES ...)
# Windows: the deliverable module <name>.SPI with undecorated stdcall exports
# and a static runtime. Elsewhere: an object library <target>_objects for
# the tests and a shared library <target> with the same exports.
function(zorv_plugin target)
  cmake_parse_arguments(P "" "MODULE_FILE;DEF;RC" "SOURCES" ${ARGN})
  if(WIN32)
    add_library(${target} MODULE ${P_SOURCES} ${FRAME_SOURCES} ${P_RC} ${P_DEF})
    target_include_directories(${target} PRIVATE
      ${CMAKE_SOURCE_DIR}/platform ${FRAME_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${P_MODULE_FILE} SUFFIX ".SPI")
    # The .def names the stdcall symbols (Name@bytes); --kill-at exports them
    # undecorated. Without stdcall fix-up an export that lost its WINAPI
    # (and so its callee-pops convention) fails to link instead of being
    # matched silently to the plain symbol.
    target_link_options(${target} PRIVATE
      -static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--disable-stdcall-fixup)
  else()
    add_library(${target}_objects OBJECT ${P_SOURCES} ${FRAME_SOURCES})
    set_target_properties(${target}_objects PROPERTIES
      POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${target}_objects PUBLIC ${FRAME_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}_objects PUBLIC zorvplatform)
    add_library(${target} SHARED $<TARGET_OBJECTS:${target}_objects>)
    target_link_libraries(${target} PRIVATE zorvplatform)
    # In dist/native the stand-in library lies beside the module.
    set_target_properties(${target} PROPERTIES BUILD_RPATH "\$ORIGIN")
  endif()
endfunction()
