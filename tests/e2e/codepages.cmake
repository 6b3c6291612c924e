# Test-only programs for running under other code pages (included by cmake/wine-tests.cmake):
#   acp_probe.exe             prints the ANSI and OEM code pages it was given
#   acp_probe_utf8.exe        the same with the manifest below: proves Wine takes it
#   setup_utf8.exe, UnInst_utf8.exe
#                             setup.exe and UnInst.exe from the same objects, their
#                             manifests asking for the UTF-8 ANSI code page (65001), as a
#                             Windows with the system's UTF-8 option runs every program
# The manifests are the shipped ones with one <application> element added; the resource
# scripts are the shipped ones with the manifest's file name replaced.

set(cp_dir ${CMAKE_BINARY_DIR}/codepages)
set(utf8_setting [=[  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>
    </windowsSettings>
  </application>
</assembly>]=])

# utf8_resources(NAME RC MANIFEST): ${cp_dir}/NAME.rc naming ${cp_dir}/NAME.manifest.
function(utf8_resources name rc manifest)
  foreach(input ${rc} ${manifest})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
  endforeach()
  file(READ ${manifest} text)
  string(REPLACE "</assembly>" "${utf8_setting}" text "${text}")
  file(WRITE ${cp_dir}/${name}.manifest "${text}")
  get_filename_component(manifest_name ${manifest} NAME)
  file(READ ${rc} text)
  string(REPLACE "\"${manifest_name}\"" "\"${cp_dir}/${name}.manifest\"" text "${text}")
  file(WRITE ${cp_dir}/${name}.rc "${text}")
endfunction()

add_executable(acp_probe ${CMAKE_SOURCE_DIR}/tests/e2e/acp_probe.c)
file(WRITE ${cp_dir}/probe.manifest [=[<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
</assembly>]=])
file(WRITE ${cp_dir}/probe.rc "#include <windows.h>\nCREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"probe.manifest\"\n")
utf8_resources(probe_utf8 ${cp_dir}/probe.rc ${cp_dir}/probe.manifest)
add_executable(acp_probe_utf8 ${CMAKE_SOURCE_DIR}/tests/e2e/acp_probe.c ${cp_dir}/probe_utf8.rc)
foreach(probe acp_probe acp_probe_utf8)
  target_link_options(${probe} PRIVATE -mconsole)
endforeach()

utf8_resources(setup_utf8 ${setup_rc} ${CMAKE_SOURCE_DIR}/resources/setup.manifest)
add_executable(setup_utf8 WIN32 ${CMAKE_SOURCE_DIR}/src/startup/main_win.cpp ${cp_dir}/setup_utf8.rc)
add_dependencies(setup_utf8 clip)
target_include_directories(setup_utf8 PRIVATE ${clip_dir} ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(setup_utf8 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${CP932_FLAGS} ${WARN_FLAGS} -Os>)
target_link_libraries(setup_utf8 PRIVATE setup_win)
target_link_options(setup_utf8 PRIVATE -mwindows -s)

utf8_resources(uninst_utf8 ${uninst_rc} ${CMAKE_SOURCE_DIR}/resources/uninst.manifest)
add_executable(UnInst_utf8 WIN32 ${CMAKE_SOURCE_DIR}/src/uninstall/main_win.cpp ${cp_dir}/uninst_utf8.rc)
target_include_directories(UnInst_utf8 PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_compile_options(UnInst_utf8 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${CP932_FLAGS} ${WARN_FLAGS} -Os>)
target_link_libraries(UnInst_utf8 PRIVATE setup_win)
target_link_options(UnInst_utf8 PRIVATE -mwindows -s)
