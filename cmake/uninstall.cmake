# Run by `cmake --build <build> --target uninstall`: for each install from
# this build folder into the current DESTDIR (none when unset; "stage/" and
# "stage" are one place), wherever its prefix was, removes the files it put in
# place, then the tool's documentation folder and each directory that install
# made, once empty: a directory is only ever removed by rmdir, which the
# system refuses for one that holds anything, so a user's file in it is never
# taken. Each install records its place and the directories it made in the
# build folder. Which files an install puts in place, the install rules
# themselves say, by installing into a scratch folder; install_manifest.txt
# cannot, since cpack overwrites it with the package's paths. With no install
# recorded for this DESTDIR, nothing is removed: what stands in the configured
# prefix may be another install's.
#   cmake -DBUILD=<build> -DPREFIX=<prefix> -DDOCDIR=<doc folder> -P uninstall.cmake

# `path` with the characters a glob takes for patterns each in brackets of its
# own, so that the glob matches the path as it stands.
function(glob_escape path out)
  string(REGEX REPLACE "([][*?])" "[\\1]" escaped "${path}")
  set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

# Sets `files` in the caller to the paths an install into `prefix` puts in
# place, without DESTDIR.
function(files_installed_into prefix)
  set(scratch "${BUILD}/uninstall-scratch")
  file(REMOVE_RECURSE "${scratch}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${scratch}
            ${CMAKE_COMMAND} -DCMAKE_INSTALL_PREFIX=${prefix}
            -DTHEMEUNPACK_UNRECORDED_INSTALL=ON -P ${BUILD}/cmake_install.cmake
    OUTPUT_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot tell what the install puts in place")
  endif()
  glob_escape("${scratch}" pattern)
  file(GLOB_RECURSE installed RELATIVE "${scratch}" "${pattern}/*")
  file(REMOVE_RECURSE "${scratch}")
  set(files "${installed}" PARENT_SCOPE)
endfunction()

# Removes `directory` when nothing is left in it, as the system alone can tell
# (rmdir); sets `removed` in the caller when it did.
function(remove_if_empty directory)
  if(IS_DIRECTORY "${directory}" AND NOT IS_SYMLINK "${directory}")
    execute_process(COMMAND rmdir -- "${directory}" RESULT_VARIABLE status
                    OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      message(STATUS "Removing: ${directory}")
      set(removed TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

function(uninstall_from prefix made)
  set(destdir "$ENV{DESTDIR}")
  set(removed FALSE)
  files_installed_into("${prefix}")
  foreach(path IN LISTS files)
    set(path "${destdir}/${path}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(STATUS "Removing: ${path}")
      file(REMOVE "${path}")
      set(removed TRUE)
    endif()
  endforeach()
  set(docdir "${DOCDIR}")
  if(NOT IS_ABSOLUTE "${docdir}")
    set(docdir "${prefix}/${docdir}")
  endif()
  remove_if_empty("${destdir}${docdir}")
  # Deepest first, so that a made directory is empty once those it holds go.
  list(SORT made)
  list(REVERSE made)
  foreach(directory IN LISTS made)
    remove_if_empty("${destdir}${directory}")
  endforeach()
  if(NOT removed)
    message(STATUS "Nothing to remove in ${destdir}${prefix}")
  endif()
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/install_directories.cmake")
same_place("$ENV{DESTDIR}" current_destdir)
glob_escape("${BUILD}" build_pattern)
file(GLOB records "${build_pattern}/install-record-*.txt")
set(recorded FALSE)
foreach(record IN LISTS records)
  read_install_record("${record}" destdir destdir)
  same_place("${destdir}" destdir)
  if(destdir STREQUAL current_destdir)
    read_install_record("${record}" prefix prefix)
    read_install_record("${record}" made made)
    uninstall_from("${prefix}" "${made}")
    file(REMOVE "${record}")
    set(recorded TRUE)
  endif()
endforeach()
if(NOT recorded)
  set(into "")
  if(NOT "$ENV{DESTDIR}" STREQUAL "")
    set(into " into DESTDIR $ENV{DESTDIR}")
  endif()
  message(STATUS "No install from ${BUILD}${into} is recorded: nothing "
                 "removed (what stands in ${PREFIX} may be another install's)")
endif()
