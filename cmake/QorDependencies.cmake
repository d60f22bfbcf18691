# The outside libraries that qor's targets link, as imported targets.  Read
# twice: by src/CMakeLists.txt while building, and by the installed
# qorConfig.cmake on the machine that uses the package, which finds them
# there anew.  The exported targets name only these imported targets, never
# a library path of the machine that built them.

# Packages found with find_package (find_dependency once installed).
set(QOR_DEPENDENCY_PACKAGES Threads ZLIB JPEG TIFF PkgConfig)

# pkg-config modules, each "<imported target's name> <module>...": the target
# is PkgConfig::<name>.
set(QOR_DEPENDENCY_MODULES
  "QOR_LIBDEFLATE libdeflate"
  "QOR_OPENJP2 libopenjp2"
  "QOR_JBIG2DEC jbig2dec"
  "QOR_LIBRAW libraw_r"
  "QOR_SDL2 sdl2"
  "QOR_X11 x11"
  "QOR_CGCT cairo freetype2 harfbuzz fontconfig")

# qor_find_dependency_modules(<result variable>): makes the PkgConfig::
# targets; the variable names the modules that were not found.
macro(qor_find_dependency_modules _qor_missing_var)
  set(${_qor_missing_var} "")
  foreach(_qor_entry IN LISTS QOR_DEPENDENCY_MODULES)
    string(REPLACE " " ";" _qor_words "${_qor_entry}")
    list(POP_FRONT _qor_words _qor_name)
    if(NOT TARGET PkgConfig::${_qor_name})
      pkg_check_modules(${_qor_name} QUIET IMPORTED_TARGET ${_qor_words})
      if(NOT ${_qor_name}_FOUND)
        list(APPEND ${_qor_missing_var} ${_qor_words})
      endif()
    endif()
  endforeach()
endmacro()
