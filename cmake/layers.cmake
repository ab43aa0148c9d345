# The three libraries are layers: platform <- framework <- service. Each one exposes only its own
# folder, so code can include its own layer and the layers below it (through what it links), and
# an include of a layer above it does not compile. Includes keep their "platform/...",
# "framework/...", "service/..." form: the folder is reached through a link of that name in a
# directory of its own in the build tree.

# The directory that holds only a link named FOLDER to the source folder FOLDER.
function(mirovandel_folder_root FOLDER OUT)
  set(root ${CMAKE_BINARY_DIR}/include/${FOLDER})
  if(NOT IS_SYMLINK ${root}/${FOLDER})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${FOLDER} ${root}/${FOLDER} SYMBOLIC)
  endif()
  set(${OUT} ${root} PARENT_SCOPE)
endfunction()

# TARGET (a library named like its folder) exposes its folder to itself and its users.
function(mirovandel_layer TARGET)
  mirovandel_folder_root(${TARGET} root)
  target_include_directories(${TARGET} PUBLIC ${root})
endfunction()
