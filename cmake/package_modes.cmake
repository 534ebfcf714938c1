# Run by cpack between staging the install and packing it: every directory in
# the package is 0755, whoever's umask made the staging tree, and executables
# lose the compilers' .comment section, as Debian's own packages do.
# cpack's own Debian generator lists the staging tree with a glob of its path
# as it stands: under a folder whose path holds a glob character it packs
# nothing, or another folder's files. Such a run stops here, saying how to
# stage elsewhere, rather than make a package that lacks the tool.
if("${CPACK_TEMPORARY_DIRECTORY}" MATCHES "[][*?]")
  message(FATAL_ERROR "cpack cannot package in ${CPACK_PACKAGE_DIRECTORY}: "
          "its path holds [, ], * or ?, which cpack takes for a pattern. "
          "Give it a folder whose path holds none: cpack -G DEB -B FOLDER")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES true
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_SYMLINK "${path}")
    continue()
  elseif(IS_DIRECTORY "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  elseif(path MATCHES "/bin/[^/]+$")
    execute_process(COMMAND ${CPACK_THEMEUNPACK_OBJCOPY}
                            --remove-section=.comment "${path}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "cannot remove the .comment section of ${path}")
    endif()
  endif()
endforeach()
