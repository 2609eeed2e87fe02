# kestrune_image_files(<images> <dir> <ids var> <files var>): the resource
# identifiers and PNG files of an editor image list, pairs of identifier and
# name (graphics/CMakeLists.txt's KESTRUNE_IMAGES) with the files in <dir>;
# a file that is not there stops the build. For the build and its scripts.
function(kestrune_image_files images dir ids_var files_var)
  set(ids)
  set(files)
  list(LENGTH images n)
  set(i 0)
  while(i LESS n)
    math(EXPR j "${i} + 1")
    list(GET images ${i} id)
    list(GET images ${j} name)
    set(file ${dir}/${name}.png)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "No image ${file}")
    endif()
    list(APPEND ids ${id})
    list(APPEND files ${file})
    math(EXPR i "${i} + 2")
  endwhile()
  set(${ids_var} ${ids} PARENT_SCOPE)
  set(${files_var} ${files} PARENT_SCOPE)
endfunction()
