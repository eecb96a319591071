# Under Wine: the Windows build of the mirror tool mirrors a small tree, as the
# runner's stand-in there. -DTOOL=robocopy.exe -DEMULATOR=wine -DWORK=folder
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/src/sub/empty ${WORK}/src/Boot ${WORK}/dst/extra)
file(WRITE ${WORK}/src/a.txt "a")
file(WRITE ${WORK}/src/sub/b.txt "b")
file(WRITE ${WORK}/src/setup.exe "excluded")
file(WRITE ${WORK}/src/Boot/c.txt "excluded folder")
file(WRITE ${WORK}/dst/old.txt "extra")
file(WRITE ${WORK}/dst/keep.EXE "excluded extra")
set(line ${WORK}/src/ ${WORK}/dst/ /MIR /FFT /Z /XA:H /R:0 /XD $Recycle.bin Boot Recycler
    "System Volume Information" /XF *.exe)
execute_process(COMMAND ${EMULATOR} ${TOOL} ${line} RESULT_VARIABLE first OUTPUT_QUIET)
execute_process(COMMAND ${EMULATOR} ${TOOL} ${line} RESULT_VARIABLE second OUTPUT_QUIET)
execute_process(COMMAND ${EMULATOR} ${TOOL} ${WORK}/src/ ${WORK}/dst/ /MIR /BOGUS RESULT_VARIABLE bad
                OUTPUT_QUIET ERROR_QUIET)
file(GLOB_RECURSE got RELATIVE ${WORK}/dst LIST_DIRECTORIES true ${WORK}/dst/*)
list(SORT got)
set(want a.txt keep.EXE sub sub/b.txt sub/empty)
if(NOT first EQUAL 3 OR NOT second EQUAL 0 OR NOT bad EQUAL 16 OR NOT got STREQUAL want)
  message(FATAL_ERROR "exit codes ${first} ${second} ${bad} (want 3 0 16); destination: ${got} (want ${want})")
endif()
file(REMOVE_RECURSE ${WORK})
