# Run by CPack on the staged files of the .deb, before they are packed: what
# Debian asks of a package beyond a plain install. Manual pages are compressed
# (the link to vtsnap's page follows it), and the documentation folder gets a
# copyright file and a changelog of the package's version.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(man1 "${root}/${CPACK_VTSNAP_MANDIR}/man1")
set(doc "${root}/${CPACK_VTSNAP_DOCDIR}")
set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# gzip -9n: no name or time stamp inside, so the same page packs the same.
function(compress file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
  file(CHMOD "${file}.gz" PERMISSIONS ${mode})
endfunction()

compress("${man1}/vtsnap.1")
file(REMOVE "${man1}/vtsnap-render.1")
file(CREATE_LINK vtsnap.1.gz "${man1}/vtsnap-render.1.gz" SYMBOLIC)

file(COPY_FILE "${CPACK_VTSNAP_COPYRIGHT}" "${doc}/copyright")
file(CHMOD "${doc}/copyright" PERMISSIONS ${mode})

# A native package's changelog, one entry for the version packed. The date is
# SOURCE_DATE_EPOCH's when that is set.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
  "vtsnap (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * vtsnap ${CPACK_PACKAGE_VERSION}, packaged from its sources.\n"
  "\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
compress("${doc}/changelog")
