# Run by `cmake --install`: writes mirovandel.desktop into the install folder, pointing at the
# program and its icon there (a menu entry needs absolute paths, known only at install time).
# Expects DESKTOP_TEMPLATE.
get_filename_component(dir "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
# Values are desktop-entry strings: a backslash is written "\\".
string(REPLACE "\\" "\\\\" DESKTOP_DIR "${dir}")
set(DESKTOP_ICON "${DESKTOP_DIR}/mirovandel.png")
# Exec takes one quoted argument: inside the quotes ", `, $ and \ carry a backslash, "%" is
# written "%%", and the string level doubles every backslash again.
string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" program "${dir}/mirovandel")
string(REPLACE "%" "%%" program "${program}")
string(REPLACE "\\" "\\\\" program "${program}")
set(DESKTOP_EXEC "\"${program}\"")
set(target "$ENV{DESTDIR}${dir}/mirovandel.desktop")
message(STATUS "Installing: ${target}")
configure_file("${DESKTOP_TEMPLATE}" "${target}" @ONLY)
file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
