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
  "QOR_CGCT cairo freetype2 harfbuzz fontconfig"
  "QOR_FONTS freetype2 harfbuzz fontconfig")

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
  # libraw_r.pc asks every program that links LibRaw to link with -fopenmp,
  # which clang turns into its own OpenMP runtime (-lomp) and gcc into
  # libgomp.  Nothing of ours uses OpenMP; libraw_r.so names the libgomp it
  # was built with itself (DT_NEEDED), so the flag adds nothing but a
  # runtime the program never calls.
  if(TARGET PkgConfig::QOR_LIBRAW)
    get_target_property(_qor_raw_options PkgConfig::QOR_LIBRAW INTERFACE_LINK_OPTIONS)
    if(_qor_raw_options)
      list(REMOVE_ITEM _qor_raw_options -fopenmp)
      set_target_properties(PkgConfig::QOR_LIBRAW PROPERTIES INTERFACE_LINK_OPTIONS "${_qor_raw_options}")
    endif()
  endif()
endmacro()
