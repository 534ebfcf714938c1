# Run by `cmake --build <build> --target uninstall`: removes what
# `cmake --install <build>` puts under the install prefix (below DESTDIR when
# set), then the tool's documentation folder once empty. The install rules
# themselves say what that is, by installing into a scratch folder first;
# install_manifest.txt cannot, since cpack overwrites it with the package's
# paths.
#   cmake -DBUILD=<build> -DPREFIX=<prefix> -DDOCDIR=<doc folder> -P uninstall.cmake
set(scratch "${BUILD}/uninstall-scratch")
file(REMOVE_RECURSE "${scratch}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${scratch}
          ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot tell what the install puts in place")
endif()
file(GLOB_RECURSE installed RELATIVE "${scratch}" "${scratch}/*")
file(REMOVE_RECURSE "${scratch}")
foreach(path IN LISTS installed)
  set(path "$ENV{DESTDIR}/${path}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing: ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
set(docdir "$ENV{DESTDIR}${DOCDIR}")
if(IS_DIRECTORY "${docdir}")
  file(GLOB left "${docdir}/*" "${docdir}/.*")
  if(NOT left)
    message(STATUS "Removing: ${docdir}")
    file(REMOVE_RECURSE "${docdir}")
  endif()
endif()
