# libyaml for the Windows build, compiled from Debian's own source package (the kit has no libyaml):
# FERROWIND_LIBYAML_SOURCE names its unpacked tree, as scripts/libyaml-source prints it.
set(FERROWIND_LIBYAML_SOURCE "" CACHE PATH "Unpacked source of Debian's libyaml (scripts/libyaml-source)")
if(NOT EXISTS "${FERROWIND_LIBYAML_SOURCE}/src/api.c")
  message(FATAL_ERROR "The Windows build compiles libyaml from Debian's source package: run scripts/libyaml-source DIR "
                      "and pass -DFERROWIND_LIBYAML_SOURCE=<the folder it prints>")
endif()
enable_language(C)
file(STRINGS "${FERROWIND_LIBYAML_SOURCE}/CMakeLists.txt" _yaml_versions REGEX "set *\\(YAML_VERSION_(MAJOR|MINOR|PATCH)")
string(REGEX REPLACE ".*MAJOR ([0-9]+).*" "\\1" _yaml_major "${_yaml_versions}")
string(REGEX REPLACE ".*MINOR ([0-9]+).*" "\\1" _yaml_minor "${_yaml_versions}")
string(REGEX REPLACE ".*PATCH ([0-9]+).*" "\\1" _yaml_patch "${_yaml_versions}")
add_library(ferrowind_yaml STATIC
  ${FERROWIND_LIBYAML_SOURCE}/src/api.c
  ${FERROWIND_LIBYAML_SOURCE}/src/loader.c
  ${FERROWIND_LIBYAML_SOURCE}/src/parser.c
  ${FERROWIND_LIBYAML_SOURCE}/src/reader.c
  ${FERROWIND_LIBYAML_SOURCE}/src/scanner.c
  ${FERROWIND_LIBYAML_SOURCE}/src/dumper.c
  ${FERROWIND_LIBYAML_SOURCE}/src/emitter.c
  ${FERROWIND_LIBYAML_SOURCE}/src/writer.c)
target_include_directories(ferrowind_yaml SYSTEM PUBLIC ${FERROWIND_LIBYAML_SOURCE}/include)
target_compile_definitions(ferrowind_yaml PUBLIC YAML_DECLARE_STATIC
  PRIVATE YAML_VERSION_MAJOR=${_yaml_major} YAML_VERSION_MINOR=${_yaml_minor} YAML_VERSION_PATCH=${_yaml_patch}
          "YAML_VERSION_STRING=\"${_yaml_major}.${_yaml_minor}.${_yaml_patch}\"")
# Its own warnings are not this project's to fix.
target_compile_options(ferrowind_yaml PRIVATE -w)
