# Writes the page's 1x editor images as one file, the PNG files one after
# another, and the manifest that says where each lies, so that the page
# fetches them in one request and hands each in as soon as its bytes are in.
# Arguments: BUNDLE, MANIFEST (the files written), IMAGE_DIR, IMAGES (pairs
# of resource identifier and name), PACK_2X (the 2x pack's file name).
set(files)
set(entries)
set(offset 0)
list(LENGTH IMAGES n)
set(i 0)
while(i LESS n)
  math(EXPR j "${i} + 1")
  list(GET IMAGES ${i} id)
  list(GET IMAGES ${j} name)
  set(path ${IMAGE_DIR}/${name}.png)
  if(NOT EXISTS ${path})
    message(FATAL_ERROR "No image ${path}")
  endif()
  file(SIZE ${path} size)
  list(APPEND files ${path})
  list(APPEND entries "[${id}, ${offset}, ${size}]")
  math(EXPR offset "${offset} + ${size}")
  math(EXPR i "${i} + 2")
endwhile()
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
