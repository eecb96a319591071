# Windows builds with MinGW-w64. Qt's DLLs use the shared MinGW runtime, so the
# programs that link Qt do as well, and find that runtime, Qt's DLLs and Qt's
# plugins in their own folder. Every other program (the mirror tool, the core
# tests, their helper programs) links the runtime statically and runs alone.

if(MINGW)
  define_property(TARGET PROPERTY TARNVEL_SHARED_RUNTIME
                  BRIEF_DOCS "The program links the shared MinGW runtime (it links Qt)")
  add_link_options(
    "$<$<AND:$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>,$<NOT:$<BOOL:$<TARGET_PROPERTY:TARNVEL_SHARED_RUNTIME>>>>:-static;-static-libgcc;-static-libstdc++>")

  # The MinGW runtime's DLLs, as the compiler finds them.
  set(TARNVEL_MINGW_RUNTIME_DLLS)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(path "${path}" REALPATH)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "The MinGW runtime's ${dll} was not found (${CMAKE_CXX_COMPILER} -print-file-name)")
    endif()
    list(APPEND TARNVEL_MINGW_RUNTIME_DLLS "${path}")
  endforeach()
endif()

# tarnvel_qt_program(target): a program that links Qt. Built with the shared
# runtime, and after each link the DLLs and plugins it needs are put beside it:
# Qt looks for its plugins in platforms/ and styles/ under the program's folder.
# The windows plugin shows real windows; offscreen and minimal serve the tests.
function(tarnvel_qt_program target)
  if(NOT MINGW)
    return()
  endif()
  set_target_properties(${target} PROPERTIES TARNVEL_SHARED_RUNTIME ON)
  set(dir $<TARGET_FILE_DIR:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TARNVEL_MINGW_RUNTIME_DLLS} $<TARGET_RUNTIME_DLLS:${target}> ${dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/platforms ${dir}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
            $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> $<TARGET_FILE:Qt6::QMinimalIntegrationPlugin> ${dir}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> ${dir}/styles
    COMMAND_EXPAND_LISTS VERBATIM)
endfunction()

# tarnvel_install_qt_runtime(target): the installed folder beside the program
# holds what tarnvel_qt_program puts beside it in the build, less the test-only
# platform plugins, so it runs on a machine without Qt or MinGW.
function(tarnvel_install_qt_runtime target destination)
  install(FILES ${TARNVEL_MINGW_RUNTIME_DLLS} DESTINATION ${destination})
  install(FILES $<TARGET_RUNTIME_DLLS:${target}> DESTINATION ${destination})
  install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION ${destination}/platforms)
  install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION ${destination}/styles)
endfunction()
