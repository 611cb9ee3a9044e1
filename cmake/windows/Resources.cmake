# The resources of a Windows program: its manifest, its version (the project's, the one place it
# is written) and, given an SVG, its icon rendered at 16, 32, 48 and 256 pixels.
#   pixmole_windows_resources(TARGET pixmole DESCRIPTION "..." MANIFEST file.manifest.in
#                             [ICON picture.svg])
find_program(RSVG_CONVERT rsvg-convert)
find_program(ICOTOOL icotool)

function(pixmole_windows_resources)
  cmake_parse_arguments(RC "" "TARGET;DESCRIPTION;MANIFEST;ICON" "" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/windows-resources/${RC_TARGET})
  set(PIXMOLE_RC_PROGRAM ${RC_TARGET})
  set(PIXMOLE_RC_DESCRIPTION "${RC_DESCRIPTION}")
  # Windows wants four numbers.
  set(words ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH}
            ${PROJECT_VERSION_TWEAK})
  list(LENGTH words count)
  while(count LESS 4)
    list(APPEND words 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(JOIN words "," PIXMOLE_RC_VERSION_WORDS)
  list(JOIN words "." PIXMOLE_FILE_VERSION)
  # The copyright line of the licence, when there is one.
  set(PIXMOLE_RC_COPYRIGHT "")
  if(EXISTS ${CMAKE_SOURCE_DIR}/LICENSE)
    file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE copyright REGEX "^Copyright" LIMIT_COUNT 1)
    string(REPLACE "\"" "\"\"" PIXMOLE_RC_COPYRIGHT "${copyright}")
  endif()

  set(PIXMOLE_RC_MANIFEST ${dir}/${RC_TARGET}.manifest)
  configure_file(${RC_MANIFEST} ${PIXMOLE_RC_MANIFEST} @ONLY)
  set(depends ${PIXMOLE_RC_MANIFEST})
  set(PIXMOLE_RC_ICON "")
  set(icon)
  if(RC_ICON)
    if(NOT RSVG_CONVERT OR NOT ICOTOOL)
      message(FATAL_ERROR "The program's icon needs rsvg-convert (librsvg2-bin) and icotool "
                          "(icoutils)")
    endif()
    set(icon ${dir}/${RC_TARGET}.ico)
    set(pngs)
    set(commands)
    foreach(size 16 32 48 256)
      set(png ${dir}/icon-${size}.png)
      list(APPEND commands COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${RC_ICON})
      # The largest goes in as PNG, as Windows keeps it; the others as bitmaps.
      if(size EQUAL 256)
        list(APPEND pngs --raw=${png})
      else()
        list(APPEND pngs ${png})
      endif()
    endforeach()
    add_custom_command(OUTPUT ${icon} ${commands}
                       COMMAND ${ICOTOOL} -c -o ${icon} ${pngs}
                       DEPENDS ${RC_ICON} VERBATIM
                       COMMENT "Rendering the icon of ${RC_TARGET}.exe")
    # Icon 1: the first icon of the file is the one the shell shows, and the window class's.
    set(PIXMOLE_RC_ICON "1 ICON \"${icon}\"")
    list(APPEND depends ${icon})
  endif()
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/resources.rc.in ${dir}/${RC_TARGET}.rc @ONLY)
  set_source_files_properties(${dir}/${RC_TARGET}.rc PROPERTIES OBJECT_DEPENDS "${depends}")
  # The icon as a source too, so that the target asks for it to be made.
  target_sources(${RC_TARGET} PRIVATE ${dir}/${RC_TARGET}.rc ${icon})
endfunction()
