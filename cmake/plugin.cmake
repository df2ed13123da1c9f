# zorv_plugin(<target> MODULE_FILE <name> DEF <file.def> RC <file.rc> SOURCES ...)
# Windows: the deliverable module <name>.SPI, lean (see below), with
# undecorated stdcall exports; the target builds it with debug information
# in unstripped/, and the stripped copy that ships beside it, named by the
# target's ZORV_SHIPPED_FILE property. Elsewhere: an object library
# <target>_objects for the tests and a shared library <target> with the same
# exports, on the stand-in kernel services.

# What every module is compiled with. Nothing throws or catches, asks for a
# type at run time or shares a function-local static between threads, so
# the C++ runtime that would support it stays out.
set(ZORV_PLUGIN_COMPILE_OPTIONS -fno-exceptions -fno-rtti -fno-threadsafe-statics)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # The modules run no start-up code that could construct a global object.
  list(APPEND ZORV_PLUGIN_COMPILE_OPTIONS -Werror=global-constructors -Werror=exit-time-destructors)
endif()

# Windows: the frame as a static library, so that each module takes from it
# only what it uses, and imports only the services that part calls.
function(zorv_win32_frame)
  if(TARGET zorv_frame)
    return()
  endif()
  # No unwind tables or stack-protector calls: they would need the runtime
  # back. Each function in a section of its own, so that the linker drops
  # what no export reaches. Debug information for the unstripped copy.
  add_library(zorv_frame STATIC ${FRAME_SOURCES})
  target_include_directories(zorv_frame PUBLIC ${CMAKE_SOURCE_DIR}/platform ${FRAME_DIR})
  # PUBLIC: the modules that link it are compiled the same way.
  target_compile_options(zorv_frame PUBLIC ${ZORV_PLUGIN_COMPILE_OPTIONS} -g
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -ffunction-sections -fdata-sections)
endfunction()

function(zorv_plugin target)
  cmake_parse_arguments(P "" "MODULE_FILE;DEF;RC" "SOURCES" ${ARGN})
  if(WIN32)
    zorv_win32_frame()
    add_library(${target} MODULE ${P_SOURCES} ${FRAME_ENTRY_SOURCE} ${P_RC} ${P_DEF})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    set(unstripped ${CMAKE_CURRENT_BINARY_DIR}/unstripped)
    set(shipped ${CMAKE_CURRENT_BINARY_DIR}/${P_MODULE_FILE}.SPI)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${P_MODULE_FILE} SUFFIX ".SPI"
      LIBRARY_OUTPUT_DIRECTORY ${unstripped} ZORV_SHIPPED_FILE ${shipped})
    # No C runtime and no start-up code: the loader calls DllMain itself, so
    # nothing runs at load but the module entry, and the module gets no
    # thread-storage directory (which would make DisableThreadLibraryCalls
    # fail) and no loader or page-protection imports. It links the system's
    # KERNEL32 and msvcrt.dll (memory and string functions only) and, from
    # libgcc, at most arithmetic and stack-probe helpers.
    # The .def names the stdcall symbols (Name@bytes); --kill-at exports them
    # undecorated. Without stdcall fix-up an export that lost its WINAPI
    # (and so its callee-pops convention) fails to link instead of being
    # matched silently to the plain symbol.
    target_link_options(${target} PRIVATE -nostdlib -Wl,--entry,_DllMain@12 -Wl,--gc-sections
      -Wl,--kill-at -Wl,--disable-stdcall-fixup)
    target_link_libraries(${target} PRIVATE zorv_frame kernel32 msvcrt gcc)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_STRIP} --strip-all -o ${shipped} $<TARGET_FILE:${target}>
      COMMENT "Stripping ${P_MODULE_FILE}.SPI"
      VERBATIM)
  else()
    add_library(${target}_objects OBJECT ${P_SOURCES} ${FRAME_SOURCES} ${FRAME_ENTRY_SOURCE})
    target_compile_options(${target}_objects PRIVATE ${ZORV_PLUGIN_COMPILE_OPTIONS})
    set_target_properties(${target}_objects PROPERTIES
      POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    target_include_directories(${target}_objects PUBLIC ${FRAME_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    # The objects serve tests, benchmarks and fuzzing, which count and fail
    # the stand-in's services; the shared library links the stand-in alone.
    target_link_libraries(${target}_objects PUBLIC zorvplatform_testing)
    add_library(${target} SHARED $<TARGET_OBJECTS:${target}_objects>)
    target_link_libraries(${target} PRIVATE zorvplatform)
    # In dist/native the stand-in library lies beside the module.
    set_target_properties(${target} PROPERTIES BUILD_RPATH "\$ORIGIN")
  endif()
endfunction()
