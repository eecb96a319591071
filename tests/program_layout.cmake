# Where the mirror tool lands in the build tree and the installed tree.
# -DBUILD=build folder -DTOOL=the built tool -DWINDOWS=ON|OFF -DWORK=scratch folder
#
# Windows: the program would run a robocopy.exe beside it instead of the
# system's, so the tool (a test stand-in there) is neither beside the program
# nor installed. Elsewhere it is the program's copy engine and sits beside it.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/installed
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${installed})")
endif()
file(GLOB_RECURSE in_tree RELATIVE ${BUILD} ${BUILD}/program/*robocopy*)
file(GLOB_RECURSE in_install RELATIVE ${WORK}/installed ${WORK}/installed/*robocopy*)
get_filename_component(tool_folder ${TOOL} DIRECTORY)
if(WINDOWS)
  set(want_tree "")
  set(want_install "")
  if(tool_folder STREQUAL ${BUILD}/program)
    message(SEND_ERROR "the tool is built into the program's folder")
  endif()
else()
  set(want_tree program/robocopy)
  set(want_install lib/tarnvel/robocopy)
endif()
if(NOT "${in_tree}" STREQUAL "${want_tree}" OR NOT "${in_install}" STREQUAL "${want_install}")
  message(FATAL_ERROR "beside the program: '${in_tree}' (want '${want_tree}'); "
                      "installed: '${in_install}' (want '${want_install}')")
endif()
file(REMOVE_RECURSE ${WORK})
