# SPDX-License-Identifier: MIT
# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staging folder before the
# Debian package is packed: what Debian's own tools (dh_installchangelogs,
# dh_compress, dh_strip) would do.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
if(NOT IS_DIRECTORY "${root}/usr/bin")
  message(FATAL_ERROR "deb_tidy: no usr/bin in the staging folder ${root}")
endif()

# The Debian changelog, whose newest entry must be this version.
file(STRINGS "${CPACK_HOROLAN_CHANGELOG}" first LIMIT_COUNT 1)
if(NOT first MATCHES "^horolan \\(${CPACK_PACKAGE_VERSION}\\) ")
  message(FATAL_ERROR "deb_tidy: packaging/changelog begins with \"${first}\", not version ${CPACK_PACKAGE_VERSION}")
endif()
set(doc "${root}/usr/share/doc/horolan")
file(COPY_FILE "${CPACK_HOROLAN_CHANGELOG}" "${doc}/changelog")

# Compressed as Debian wants them (-n: no name or time stamp, reproducible).
file(GLOB pages "${root}/usr/share/man/man*/*.[0-9]")
foreach(file "${doc}/changelog" ${pages})
  execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The compiler's .comment and the .note section go, as dh_strip drops them
# (objcopy: the symbols and debug information stay for cpack, which strips
# them or moves them into the dbgsym package).
file(GLOB binaries "${root}/usr/bin/*" "${root}/usr/lib/horolan/*.so")
foreach(file ${binaries})
  execute_process(COMMAND "${CPACK_HOROLAN_OBJCOPY}" --remove-section=.comment --remove-section=.note "${file}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
