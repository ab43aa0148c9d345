# Run by `cmake --install` before anything is copied: the program writes config.ini beside
# itself, so an install into the source or build folder would mix the operator's files with the
# checkout, and deleting the install would delete the checkout. Expects SOURCE_DIR and BUILD_DIR.
get_filename_component(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
file(REAL_PATH "${prefix}" prefix_real)
foreach(tree "${SOURCE_DIR}" "${BUILD_DIR}")
  file(REAL_PATH "${tree}" tree_real)
  foreach(candidate "${prefix}" "${prefix_real}")
    cmake_path(IS_PREFIX tree_real "${candidate}" NORMALIZE inside)
    if(inside)
      # NOTICE prints the lines as they are (an error's text is rewrapped, paths and all).
      message(NOTICE "mirovandel: will not install into ${prefix}: it is in the source or build "
                     "folder ${tree_real}.\n  Install it into a folder of its own, for example:\n"
                     "  cmake --install <build folder> --prefix ~/.local/opt/mirovandel")
      message(FATAL_ERROR "install refused, nothing installed")
    endif()
  endforeach()
endforeach()
