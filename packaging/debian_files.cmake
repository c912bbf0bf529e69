# Run by CPack on the staged files of the .debs, before they are packed: what
# Debian asks of a package beyond a plain install. Each package's
# documentation folder gets a copyright file and a changelog of the version;
# the tools' manual page is compressed (the link to it follows it).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# gzip -9n: no name or time stamp inside, so the same file packs the same.
function(compress file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
  file(CHMOD "${file}.gz" PERMISSIONS ${mode})
endfunction()

# The changelog's date is SOURCE_DATE_EPOCH's when that is set.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Each component is staged in a folder of its own.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT package OR NOT IS_DIRECTORY "${root}")
    message(FATAL_ERROR "no package name or staged files for the component ${component}")
  endif()

  set(man1 "${root}/${CPACK_VTSNAP_MANDIR}/man1")
  if(EXISTS "${man1}/vtsnap.1")
    compress("${man1}/vtsnap.1")
    file(REMOVE "${man1}/vtsnap-render.1")
    file(CREATE_LINK vtsnap.1.gz "${man1}/vtsnap-render.1.gz" SYMBOLIC)
  endif()

  # 0755 whatever the umask, as the install makes its folders.
  set(doc "${root}/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(CHMOD "${root}/share" "${root}/share/doc" "${doc}" PERMISSIONS ${mode} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  file(COPY_FILE "${CPACK_VTSNAP_COPYRIGHT}" "${doc}/copyright")
  file(CHMOD "${doc}/copyright" PERMISSIONS ${mode})
  # A native package's changelog, one entry for the version packed.
  file(WRITE "${doc}/changelog"
    "vtsnap (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n"
    "\n"
    "  * vtsnap ${CPACK_PACKAGE_VERSION}, packaged from its sources.\n"
    "\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
  compress("${doc}/changelog")
endforeach()
