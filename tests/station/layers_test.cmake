# The layers, each including only from those below it:
#   image -> device -> upgrade -> station -> app (the front-ends)
# The portable layers include no platform header; their backends live in
# linux/ and windows/ folders and *_posix.cpp files. The front-ends under app/
# include no other front-end, but for the command line, which starts them.
set(layers image device upgrade station app)
set(platform_headers windows\\.h unistd\\.h termios\\.h fcntl\\.h sys/ io\\.h share\\.h httplib\\.h boost/ microhttpd\\.h
    MQTTAsync\\.h mosquitto\\.h)
list(JOIN platform_headers "|" platform_pattern)
set(failures "")

function(layer_index name out)
  list(FIND layers ${name} index)
  set(${out} ${index} PARENT_SCOPE)
endfunction()

foreach(layer image device upgrade station)
  layer_index(${layer} own)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${layer}/*.h ${ROOT}/${layer}/*.cpp)
  foreach(source ${sources})
    set(backend FALSE)
    if(source MATCHES "/(linux|windows)/" OR source MATCHES "_posix\\.cpp$")
      set(backend TRUE)
    endif()
    file(STRINGS ${ROOT}/${source} includes REGEX "^#include")
    foreach(line ${includes})
      if(line MATCHES "^#include [<\"](${platform_pattern})" AND (layer STREQUAL "station" OR NOT backend))
        string(APPEND failures "${source}: a platform header in portable code: ${line}\n")
      endif()
      if(line MATCHES "^#include \"([a-z_]+)/")
        layer_index(${CMAKE_MATCH_1} theirs)
        if(theirs GREATER own)
          string(APPEND failures "${source}: includes from a layer above it: ${line}\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

# No listener includes another: the page and the line's record know only the
# station; the command line wires them.
file(GLOB front_ends RELATIVE ${ROOT}/app ${ROOT}/app/*)
foreach(front_end page publish)
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/app/${front_end}/*.h ${ROOT}/app/${front_end}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${ROOT}/${source} includes REGEX "^#include \"app/")
    foreach(line ${includes})
      if(NOT line MATCHES "^#include \"app/${front_end}/")
        string(APPEND failures "${source}: a listener includes another front-end: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Layer rules broken:\n${failures}")
endif()
message(STATUS "layers: every include points down")
