# qor_add_library(<folder> [DEPS <qor folders...>] [LIBS <libraries...>]
#                 [PRIVATE_LIBS <libraries...>])
#
# Builds src/<folder>/*.cpp into the library qor_<folder> (alias qor::<folder>)
# and installs its headers as <prefix>/include/qor/<folder>/*.h.  Headers are
# included as "<folder>/<name>.h", from src/ in the tree and from include/qor
# once installed.
function(qor_add_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS;LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  file(GLOB _headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.h)
  set(_target qor_${folder})
  if(_sources)
    add_library(${_target} STATIC ${_sources} ${_headers})
    set(_scope PUBLIC)
  else()
    add_library(${_target} INTERFACE)
    set(_scope INTERFACE)
  endif()
  add_library(qor::${folder} ALIAS ${_target})
  set_target_properties(${_target} PROPERTIES EXPORT_NAME ${folder} OUTPUT_NAME qor_${folder})
  target_include_directories(${_target} ${_scope}
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/qor>)
  target_link_libraries(${_target} ${_scope} qor_settings)
  # A folder links the lower folders it names; one that has no sources yet is
  # skipped, so the layers can land one at a time.
  foreach(_d IN LISTS ARG_DEPS)
    if(TARGET qor_${_d})
      target_link_libraries(${_target} ${_scope} qor_${_d})
    endif()
  endforeach()
  if(ARG_LIBS)
    target_link_libraries(${_target} ${_scope} ${ARG_LIBS})
  endif()
  if(ARG_PRIVATE_LIBS)
    target_link_libraries(${_target} PRIVATE ${ARG_PRIVATE_LIBS})
  endif()
  install(TARGETS ${_target} EXPORT qorTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qor/${folder})
  set_property(GLOBAL APPEND PROPERTY QOR_LIBRARIES ${folder})
endfunction()
