# Writes the page's 1x editor images as one file, the PNG files one after
# another, and the manifest that says where each lies, so that the page
# fetches them in one request and hands each in as soon as its bytes are in.
# Arguments: BUNDLE, MANIFEST (the files written), IMAGE_DIR, IMAGES (pairs
# of resource identifier and name), PACK_2X (the 2x pack's file name).
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/KestruneImageFiles.cmake)
kestrune_image_files("${IMAGES}" ${IMAGE_DIR} ids files)
set(entries)
set(offset 0)
foreach(id path IN ZIP_LISTS ids files)
  file(SIZE ${path} size)
  list(APPEND entries "[${id}, ${offset}, ${size}]")
  math(EXPR offset "${offset} + ${size}")
endforeach()
list(JOIN entries ", " entries)
# Each written beside its place and renamed over it: a page being served
# never sees half a file.
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${files} OUTPUT_FILE ${BUNDLE}.new RESULT_VARIABLE status)
file(SIZE ${BUNDLE}.new written)
if(NOT status EQUAL 0 OR NOT written EQUAL offset)
  message(FATAL_ERROR "${BUNDLE}: ${written} of ${offset} bytes written")
endif()
file(WRITE ${MANIFEST}.new
     "{\"images\": [${entries}], \"packs\": {\"2\": \"${PACK_2X}\"}}\n")
file(RENAME ${BUNDLE}.new ${BUNDLE})
file(RENAME ${MANIFEST}.new ${MANIFEST})
