# Install rules: the programs, the libraries with their public headers, the
# CMake package (find_package(liveupdate CONFIG) gives liveupdate::<name>, each
# carrying what it links), the pkg-config file, man pages, the bash completion
# and the examples. Included after every subdirectory, so that it sees every
# target this build has.
include(CMakePackageConfigHelpers)

# The libraries a program can link, with the names a consumer knows them by.
# The internet client library is loaded at run time, never linked: it is
# installed (and exported, for its file name) but left out of the link lines.
set(_liveupdate_libraries
  cl_platform platform   inetclient inetclient   cl_rtl rtl   cl_base base
  cl_gzip gzip   cl_url url   cl_wininet wininet   cl_connection connection
  cl_workers workers   cl_http http   cl_html html   cl_download download
  cl_progress progress   cl_app updater)

set(_liveupdate_exported "")
set(_liveupdate_linked "")
while(_liveupdate_libraries)
  list(POP_FRONT _liveupdate_libraries _target _name)
  if(NOT TARGET ${_target})
    continue()
  endif()
  set_target_properties(${_target} PROPERTIES EXPORT_NAME ${_name})
  # The same names inside this build, for the examples.
  add_library(liveupdate::${_name} ALIAS ${_target})
  # The folders' build files name the source folder for their headers; a
  # consumer of the installed package uses the installed copies instead.
  get_target_property(_includes ${_target} INTERFACE_INCLUDE_DIRECTORIES)
  if(_includes)
    list(TRANSFORM _includes REPLACE "^(/.*)$" "$<BUILD_INTERFACE:\\1>")
    set_target_properties(${_target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_includes}")
  endif()
  get_target_property(_type ${_target} TYPE)
  if(_type STREQUAL "SHARED_LIBRARY")
    # Beside each other in PREFIX/lib.
    set_target_properties(${_target} PROPERTIES INSTALL_RPATH "\$ORIGIN")
  endif()
  list(APPEND _liveupdate_exported ${_target})
  if(NOT _target STREQUAL "inetclient")
    list(APPEND _liveupdate_linked ${_target})
  endif()
endwhile()

install(TARGETS ${_liveupdate_exported} EXPORT liveupdateTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${LIVEUPDATE_INSTALL_INCLUDEDIR})

# A stripped install (cmake --install --strip, the Debian package) takes the
# debugging information out of the static libraries too; the linker keeps
# their symbols.
set(_archives "")
foreach(_target IN LISTS _liveupdate_exported)
  get_target_property(_type ${_target} TYPE)
  if(_type STREQUAL "STATIC_LIBRARY")
    list(APPEND _archives "$<TARGET_FILE_NAME:${_target}>")
  endif()
endforeach()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(_archive ${_archives})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/\${_archive}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

set(_liveupdate_programs "")
foreach(_program IN LISTS LIVEUPDATE_PROGRAMS)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND _liveupdate_programs ${_program})
  endif()
endforeach()
# Everything an install copies, for what must wait until it is built.
add_custom_target(liveupdate_installed_targets)
add_dependencies(liveupdate_installed_targets ${_liveupdate_exported} ${_liveupdate_programs})

# Headers keep the source layout, since they include each other as
# "folder/Header.h". The front-ends are programs, not a library; of the
# internet client library's folder only its interface is public.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/ DESTINATION ${LIVEUPDATE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h"
  PATTERN "ui" EXCLUDE
  REGEX "/platform/inet/[^/]+\\.h$" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/src/platform/inet/InetClient.h
  DESTINATION ${LIVEUPDATE_INSTALL_INCLUDEDIR}/platform/inet)

# What the linked libraries need from outside, walked from their link
# interfaces, so that the package's and the pkg-config file's dependencies
# follow the build files as they change. Each of the project's targets is
# appended after everything it links: reversed, that is a static link order.
function(_liveupdate_walk target)
  get_property(_seen GLOBAL PROPERTY _LIVEUPDATE_WALK_SEEN)
  if(target IN_LIST _seen)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY _LIVEUPDATE_WALK_SEEN ${target})
  get_target_property(_deps ${target} INTERFACE_LINK_LIBRARIES)
  foreach(_dep IN LISTS _deps)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.+)>$" "\\1" _dep "${_dep}")
    if(NOT _dep OR _dep MATCHES "-NOTFOUND$")
      continue()
    endif()
    set(_own FALSE)
    if(TARGET ${_dep})
      get_target_property(_imported ${_dep} IMPORTED)
      if(NOT _imported)
        set(_own TRUE)
      endif()
    endif()
    if(_own)
      _liveupdate_walk(${_dep})
    else()
      set_property(GLOBAL APPEND PROPERTY _LIVEUPDATE_WALK_OUTSIDE ${_dep})
    endif()
  endforeach()
  set_property(GLOBAL APPEND PROPERTY _LIVEUPDATE_WALK_ORDER ${target})
endfunction()

foreach(_target IN LISTS _liveupdate_linked)
  _liveupdate_walk(${_target})
endforeach()
get_property(_order GLOBAL PROPERTY _LIVEUPDATE_WALK_ORDER)
get_property(_outside GLOBAL PROPERTY _LIVEUPDATE_WALK_OUTSIDE)
list(REMOVE_DUPLICATES _outside)
list(REVERSE _order)

# Each outside dependency as the package finds it again and as pkg-config
# names it. One this table does not know stops the configure, rather than
# installing a package that cannot be linked.
set(_find_lines "")
set(_pc_requires "")
set(_pc_libs "")
foreach(_dep IN LISTS _outside)
  if(_dep STREQUAL "Threads::Threads")
    list(APPEND _find_lines "find_dependency(Threads)")
    list(APPEND _pc_libs "-pthread")
  elseif(_dep STREQUAL "ZLIB::ZLIB")
    list(APPEND _find_lines "find_dependency(ZLIB)")
    list(APPEND _pc_requires zlib)
  elseif(_dep STREQUAL "OpenSSL::SSL")
    list(APPEND _find_lines "find_dependency(OpenSSL)")
    list(APPEND _pc_requires libssl)
  elseif(_dep STREQUAL "OpenSSL::Crypto")
    list(APPEND _find_lines "find_dependency(OpenSSL)")
    list(APPEND _pc_requires libcrypto)
  elseif(_dep STREQUAL "CURL::libcurl")
    list(APPEND _find_lines "find_dependency(CURL)")
    list(APPEND _pc_requires libcurl)
  elseif(_dep STREQUAL "nlohmann_json::nlohmann_json")
    list(APPEND _find_lines "find_dependency(nlohmann_json 3)")
    list(APPEND _pc_requires nlohmann_json)
  elseif(_dep MATCHES "^PkgConfig::(.+)$")
    # pkg_check_modules(X ...) made PkgConfig::X and noted the module in X_MODULE_NAME.
    set(_prefix ${CMAKE_MATCH_1})
    set(_module ${${_prefix}_MODULE_NAME})
    if(NOT _module)
      message(FATAL_ERROR "No pkg-config module known for ${_dep}.")
    endif()
    list(APPEND _find_lines "find_dependency(PkgConfig)" "if(NOT TARGET ${_dep})\n  \
pkg_check_modules(${_prefix} REQUIRED QUIET IMPORTED_TARGET ${_module})\nendif()")
    list(APPEND _pc_requires ${_module})
  elseif(_dep STREQUAL "${CMAKE_DL_LIBS}" OR _dep MATCHES "^[A-Za-z0-9_+-]+$")
    # A plain system library (dl, util, ...).
    list(APPEND _pc_libs "-l${_dep}")
  else()
    message(FATAL_ERROR "The installed package does not know how a consumer finds ${_dep}: "
      "add it to the table in ${CMAKE_CURRENT_LIST_FILE}.")
  endif()
endforeach()
list(REMOVE_DUPLICATES _find_lines)
list(REMOVE_DUPLICATES _pc_requires)
list(REMOVE_DUPLICATES _pc_libs)
list(JOIN _find_lines "\n" LIVEUPDATE_FIND_DEPENDENCIES)

set(_pc_own "")
foreach(_target IN LISTS _order)
  get_target_property(_output ${_target} OUTPUT_NAME)
  if(NOT _output)
    set(_output ${_target})
  endif()
  list(APPEND _pc_own "-l${_output}")
endforeach()
list(JOIN _pc_own " " LIVEUPDATE_PC_OWN_LIBS)
list(JOIN _pc_libs " " LIVEUPDATE_PC_SYSTEM_LIBS)
list(JOIN _pc_requires " " LIVEUPDATE_PC_REQUIRES)
set(LIVEUPDATE_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(LIVEUPDATE_PC_INCLUDEDIR ${LIVEUPDATE_INSTALL_INCLUDEDIR})
file(RELATIVE_PATH LIVEUPDATE_PC_PREFIX_FROM_PCDIR
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" LIVEUPDATE_PC_PREFIX_FROM_PCDIR "${LIVEUPDATE_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/liveupdate.pc.in ${CMAKE_BINARY_DIR}/package/liveupdate.pc
  @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/liveupdate.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/liveupdateConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/liveupdateConfig.cmake
  INSTALL_DESTINATION ${LIVEUPDATE_INSTALL_CMAKEDIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/liveupdateConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(EXPORT liveupdateTargets NAMESPACE liveupdate:: DESTINATION ${LIVEUPDATE_INSTALL_CMAKEDIR})
install(FILES ${CMAKE_BINARY_DIR}/package/liveupdateConfig.cmake
  ${CMAKE_BINARY_DIR}/package/liveupdateConfigVersion.cmake
  DESTINATION ${LIVEUPDATE_INSTALL_CMAKEDIR})

# Every page in man/ (a page added later is picked up at the next build).
file(GLOB _man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.[1-8])
foreach(_page IN LISTS _man_pages)
  string(REGEX MATCH "[1-8]$" _section "${_page}")
  install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/completions/multidl.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME multidl)
install(FILES ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt
  ${PROJECT_SOURCE_DIR}/examples/download-one.cpp
  ${PROJECT_SOURCE_DIR}/examples/segmented-progress.cpp
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
