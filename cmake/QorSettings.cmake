# Compiler settings shared by every target of the project.

add_library(qor_settings INTERFACE)
add_library(qor::settings ALIAS qor_settings)
set_target_properties(qor_settings PROPERTIES EXPORT_NAME settings)
# The project's own code builds without warnings.  A name that hides another
# (a parameter named like the member it sets, a local that covers an outer
# one) and an overload that hides a base class's virtual are warned of as
# well: either can send a call somewhere the reader does not expect.
# QOR_WERROR turns every warning into an error (CI builds with it); it stays
# off for users, whose newer compilers may warn of things ours do not.  Only
# the project's targets get these flags: the installed package does not pass
# them on, and the Debian headers come in as system includes.
target_compile_options(qor_settings INTERFACE
  $<BUILD_INTERFACE:-Wall -Wextra -Wshadow -Woverloaded-virtual $<$<BOOL:${QOR_WERROR}>:-Werror>>
  # Hardware faults are turned into exceptions by the signal translator of the
  # base library; the compiler must be told that any trapping instruction may
  # throw, or the unwinder finds no handler for the faulting frame.
  -fnon-call-exceptions
  -fasynchronous-unwind-tables)
find_package(Threads REQUIRED)
target_link_libraries(qor_settings INTERFACE Threads::Threads)

if(QOR_SANITIZE)
  string(REPLACE "," ";" _qor_sans "${QOR_SANITIZE}")
  foreach(_s IN LISTS _qor_sans)
    if(NOT _s MATCHES "^(address|undefined|thread)$")
      message(FATAL_ERROR "QOR_SANITIZE: unknown sanitizer '${_s}'")
    endif()
  endforeach()
  set(_qor_san_flags -fsanitize=${QOR_SANITIZE} -fno-omit-frame-pointer)
  if("undefined" IN_LIST _qor_sans)
    # Undefined behaviour fails the test that triggers it.
    list(APPEND _qor_san_flags -fno-sanitize-recover=undefined)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # GCC's "undefined" leaves out a float converted to an integer that
      # cannot hold it (clang's includes it).
      list(APPEND _qor_san_flags -fsanitize=float-cast-overflow -fno-sanitize-recover=float-cast-overflow)
    endif()
  endif()
  add_compile_options(${_qor_san_flags})
  add_link_options(-fsanitize=${QOR_SANITIZE})
endif()

if(QOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QOR_FUZZ needs clang (configure with CC=clang CXX=clang++)")
  endif()
  # The libraries get the fuzzer's coverage hooks; only the entries link the
  # fuzzer's own main (fuzz/CMakeLists.txt).
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
