# Removes from the assembled page's folder every file the build no longer
# places there (an earlier build's files), so that the folder served is the
# page as this tree makes it. Arguments: DIR, KEEP (the file names placed).
cmake_minimum_required(VERSION 3.16)
file(GLOB entries LIST_DIRECTORIES false RELATIVE ${DIR} ${DIR}/*)
foreach(name ${entries})
  if(NOT name IN_LIST KEEP)
    file(REMOVE ${DIR}/${name})
  endif()
endforeach()
