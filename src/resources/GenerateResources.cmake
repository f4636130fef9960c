# Writes the resource file: the named icons under ":/icons/" and every country flag as
# ":/resources/flags/" followed by its lower-case two-letter code and ".png".
#   cmake -DSILK_DIR=... -DFLAGS_DIR=... -DOUTPUT=... -P GenerateResources.cmake

include(${CMAKE_CURRENT_LIST_DIR}/IconNames.cmake)

set(content "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/icons\">\n")
foreach(entry IN LISTS TARNWICK_ICONS)
  string(REPLACE "=" ";" pair ${entry})
  list(GET pair 0 name)
  list(GET pair 1 image)
  if(NOT EXISTS ${SILK_DIR}/${image}.png)
    message(FATAL_ERROR "No Silk image ${image}.png for the icon ${name} in ${SILK_DIR}")
  endif()
  string(APPEND content "  <file alias=\"${name}\">${SILK_DIR}/${image}.png</file>\n")
endforeach()
string(APPEND content "</qresource>\n<qresource prefix=\"/resources/flags\">\n")

file(GLOB flags RELATIVE ${FLAGS_DIR} ${FLAGS_DIR}/??.png)
list(SORT flags)
foreach(flag IN LISTS flags)
  string(TOLOWER ${flag} alias)
  string(APPEND content "  <file alias=\"${alias}\">${FLAGS_DIR}/${flag}</file>\n")
endforeach()
string(APPEND content "</qresource>\n</RCC>\n")

file(WRITE ${OUTPUT} "${content}")
