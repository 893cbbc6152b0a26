# Fails when a source file that goes into ferrowind_core includes a Qt Widgets header.
# Core files are everything under src/ except the window classes, which
# live in a ui/ folder of their subsystem and go into ferrowind_ui.
file(GLOB_RECURSE core_files ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(bad "")
foreach(f IN LISTS core_files)
  get_filename_component(dir ${f} DIRECTORY)
  get_filename_component(name ${f} NAME)
  if(dir MATCHES "/ui$" OR dir MATCHES "/ui/")
    continue()
  endif()
  file(STRINGS ${f} lines REGEX "#[ \t]*include[ \t]*[<\"](QtWidgets/|QtPrintSupport/|qcustomplot|Q(Widget|Dialog|MainWindow|MessageBox|Application|PushButton|Label|LineEdit|CheckBox|TabWidget|TableWidget|Menu|Action)[>\".])")
  if(lines)
    list(APPEND bad "${f}: ${lines}")
  endif()
endforeach()
if(bad)
  message(FATAL_ERROR "ferrowind_core must not use QtWidgets:\n${bad}")
endif()
