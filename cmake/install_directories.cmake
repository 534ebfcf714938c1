# Run by the install: makes each directory missing on the way to the ones
# given (relative to the install prefix, below DESTDIR) with mode 0755, and
# leaves every directory that was already there as it was. Then records, in
# the build folder, where this install went and which directories it made,
# so that the uninstall target takes away exactly this install, wherever
# `cmake --install --prefix` sent it.
#   make_install_directories(RECORD_IN <build folder> DIRECTORIES <dir>...)
function(make_install_directories)
  cmake_parse_arguments(PARSE_ARGV 0 install "" "RECORD_IN" "DIRECTORIES")
  if(NOT "$ENV{DESTDIR}" STREQUAL "")
    refuse_unlistable_path(DESTDIR "$ENV{DESTDIR}")
  endif()
  refuse_unlistable_path(CMAKE_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
  # A relative --prefix is taken from the folder the install runs in.
  get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  # Without the separators at its end, so that what lies below it begins with
  # one: "stage/" and "stage" are one place.
  same_place("$ENV{DESTDIR}" destdir)
  string(LENGTH "${destdir}" destdir_length)
  set(made_below_destdir "")
  foreach(directory IN LISTS install_DIRECTORIES)
    if(NOT IS_ABSOLUTE "${directory}")
      set(directory "${prefix}/${directory}")
    endif()
    set(path "${destdir}${directory}")
    set(missing "")
    while(NOT EXISTS "${path}")
      list(PREPEND missing "${path}")
      get_filename_component(path "${path}" DIRECTORY)
    endwhile()
    foreach(made IN LISTS missing)
      file(MAKE_DIRECTORY "${made}")
      file(CHMOD "${made}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
           GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      # Folders made on the way to DESTDIR itself are the packager's staging
      # area, not part of the install.
      string(SUBSTRING "${made}" 0 ${destdir_length} made_start)
      if(made_start STREQUAL destdir AND NOT made STREQUAL destdir)
        string(SUBSTRING "${made}" ${destdir_length} -1 installed)
        list(APPEND made_below_destdir "${installed}")
      endif()
    endforeach()
  endforeach()
  # cpack runs these same steps inside its own process (not as a script) to
  # stage its package, and the uninstall target runs them into a scratch
  # folder to learn what an install puts in place: neither is an install.
  if(CMAKE_SCRIPT_MODE_FILE AND NOT THEMEUNPACK_UNRECORDED_INSTALL)
    record_install("${install_RECORD_IN}" "${destdir}" "${prefix}"
                   "${made_below_destdir}")
  endif()
endfunction()

# Stops the install where `path`, or a directory on the way to it (each may be
# one the install makes), could not be held in the record, one line a path,
# and read back as an item of a CMake list: a ";" separates items, a "["
# without its "]" (or the reverse) joins an item to the next, and a line break
# ends a line.
function(refuse_unlistable_path place path)
  get_filename_component(path "${path}" ABSOLUTE)
  string(FIND "${path}" ";" semicolon)
  if(NOT semicolon EQUAL -1)
    message(FATAL_ERROR "${place} holds a \";\", which CMake takes for a "
                        "list separator: install somewhere else.")
  endif()
  string(FIND "${path}" "\n" line_break)
  while(line_break EQUAL -1 AND NOT path STREQUAL "/")
    set(probe "before;${path};after")
    list(LENGTH probe items)
    if(NOT items EQUAL 3)
      break()
    endif()
    get_filename_component(path "${path}" DIRECTORY)
  endwhile()
  if(NOT path STREQUAL "/")
    message(FATAL_ERROR "${place} holds a bracket without its pair or a line "
                        "break, which CMake's lists cannot hold: install "
                        "somewhere else.")
  endif()
endfunction()

# One record per place installed to (DESTDIR and prefix); a later install to
# the same place keeps the directories an earlier one made.
function(record_install build destdir prefix made)
  string(SHA256 place "${destdir}\n${prefix}")
  string(SUBSTRING "${place}" 0 16 place)
  set(record "${build}/install-record-${place}.txt")
  if(EXISTS "${record}")
    read_install_record("${record}" made earlier)
    list(PREPEND made ${earlier})
    list(REMOVE_DUPLICATES made)
  endif()
  set(text "destdir=${destdir}\nprefix=${prefix}\n")
  foreach(directory IN LISTS made)
    string(APPEND text "made=${directory}\n")
  endforeach()
  file(WRITE "${record}" "${text}")
endfunction()

# Sets `out` in the caller to `destdir` as a place: "stage/", "stage" and
# "stage/." are one.
function(same_place destdir out)
  if(NOT destdir STREQUAL "")
    cmake_path(NORMAL_PATH destdir)
    string(REGEX REPLACE "(.)/+$" "\\1" destdir "${destdir}")
  endif()
  set(${out} "${destdir}" PARENT_SCOPE)
endfunction()

# Sets `out` in the caller to the values of the `key=` lines of `record`.
# Read whole, not by file(STRINGS), which ends a line at the first byte
# beyond ASCII.
function(read_install_record record key out)
  file(READ "${record}" text)
  string(REPLACE "\n" ";" lines "${text}")
  list(FILTER lines INCLUDE REGEX "^${key}=")
  list(TRANSFORM lines REPLACE "^${key}=" "")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
