# Run by cpack after the staging install, before packing: finishes the files as Debian's own
# packages have them. The programs (already stripped) lose the compiler's notes too, and
# /usr/share/doc/pixmole gets the licence as a machine-readable copyright file and a changelog,
# both made from the build's values.
set(usr "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB programs "${usr}/bin/*")
execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${programs}
                RESULT_VARIABLE failed)
if(failed OR NOT programs)
  message(FATAL_ERROR "strip failed on the programs in ${usr}/bin")
endif()

set(doc "${usr}/share/doc/pixmole")
file(MAKE_DIRECTORY "${doc}")

# The copyright file carries the licence's text from "Permission" on, each line indented by one
# space and each empty line written as " .".
file(READ "${CPACK_PIXMOLE_SOURCE_DIR}/LICENSE" licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" line "${licence}")
set(holder "${CMAKE_MATCH_1}")
string(FIND "${licence}" "Permission is hereby granted" start)
if(start EQUAL -1 OR NOT holder)
  message(FATAL_ERROR "LICENSE has no copyright line or no permission text")
endif()
string(SUBSTRING "${licence}" ${start} -1 text)
string(STRIP "${text}" text)
string(REPLACE "\n\n" "\n.\n" text "${text}")
string(REPLACE "\n" "\n " text "${text}")
file(WRITE "${doc}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Pixmole

Files: *
Copyright: ${holder}
License: Expat
 ${text}
")

# A native package's changelog: one entry for the version being packed, dated by
# SOURCE_DATE_EPOCH when that is set (a reproducible build), otherwise by now.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
"pixmole (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Pixmole ${CPACK_PACKAGE_VERSION} (the changes are in the project's git history).

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}
")
execute_process(COMMAND gzip -9nf "${doc}/changelog" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip failed on ${doc}/changelog")
endif()
