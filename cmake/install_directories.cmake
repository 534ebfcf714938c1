# Run by the install: makes each directory missing on the way to the ones
# given (relative to the install prefix, below DESTDIR) with mode 0755, and
# leaves every directory that was already there as it was.
function(make_install_directories)
  foreach(directory IN LISTS ARGN)
    if(NOT IS_ABSOLUTE "${directory}")
      set(directory "${CMAKE_INSTALL_PREFIX}/${directory}")
    endif()
    set(path "$ENV{DESTDIR}${directory}")
    set(missing "")
    while(NOT EXISTS "${path}")
      list(PREPEND missing "${path}")
      get_filename_component(path "${path}" DIRECTORY)
    endwhile()
    foreach(made IN LISTS missing)
      file(MAKE_DIRECTORY "${made}")
      file(CHMOD "${made}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
           GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
  endforeach()
endfunction()
