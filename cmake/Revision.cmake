# Writes OUTPUT, the definition of AppContext::sourceRevision(): REVISION when it is given, else the git commit of
# SOURCE_DIR when SOURCE_DIR is the top of a git work tree, else "unknown" (a source package, or a copy of the tree
# inside another one). Run at every build; OUTPUT is written only when its text changes, so that a build without a
# new commit compiles nothing again, and it holds nothing but the revision, so two builds of the same tree give the
# same bytes.
# Usage: cmake -DSOURCE_DIR=DIR -DOUTPUT=FILE [-DREVISION=TEXT] -P Revision.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT DEFINED REVISION OR REVISION STREQUAL "")
  set(REVISION unknown)
  find_program(GIT_PROGRAM git)
  if(GIT_PROGRAM)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${SOURCE_DIR} rev-parse --show-toplevel HEAD
                    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(rc EQUAL 0)
      string(REPLACE "\n" ";" lines "${out}")
      list(LENGTH lines count)
      if(count EQUAL 2)
        list(GET lines 0 top)
        list(GET lines 1 head)
        file(REAL_PATH "${top}" top)
        file(REAL_PATH "${SOURCE_DIR}" source)
        if(top STREQUAL source AND head MATCHES "^[0-9a-f]+$")
          set(REVISION ${head})
        endif()
      endif()
    endif()
  endif()
elseif(NOT REVISION MATCHES "^[0-9A-Za-z._+~-]+$")
  message(FATAL_ERROR "FERROWIND_REVISION takes letters, digits and . _ + ~ -, not '${REVISION}'")
endif()

set(text "// Written by cmake/Revision.cmake at build time.
#include \"context/AppContext.h\"

QString fw::AppContext::sourceRevision()
{
    return QStringLiteral(\"${REVISION}\");
}
")
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
