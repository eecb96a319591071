# The program file's Windows resources: process declaration (manifest), icon
# and version block. One function, so the test that reads them back is linked
# exactly as the program is.
#
# MSVC's linker writes a manifest of its own, so there the manifest is a source
# file that CMake hands to the linker to merge, and the resource script leaves
# it out; MinGW's linker writes none, so the script embeds it.
function(tarnvel_windows_resources target)
  set(app ${PROJECT_SOURCE_DIR}/app)
  target_sources(${target} PRIVATE ${app}/tarnvel.rc)
  if(MSVC)
    target_sources(${target} PRIVATE ${app}/tarnvel.manifest)
    target_compile_definitions(${target} PRIVATE TARNVEL_LINKER_MANIFEST)
    # The declaration of the execution level is in the file already.
    target_link_options(${target} PRIVATE /MANIFESTUAC:NO)
  else()
    # windres looks for the files the script names in its include folders.
    target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${app}>)
  endif()
endfunction()
