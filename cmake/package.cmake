# Assembles kestrel_<version>_<arch>.deb from a build tree (cmake -P, run by `make deb`):
#
#   cmake -DBUILD_DIR=<tree> -DSOURCE_DIR=<repo> -DOUTPUT_DIR=<dir> -P cmake/package.cmake
#
# The tree must have been configured with CMAKE_INSTALL_BINDIR=sbin and have kestrel and
# Kestrel.efi built. Its install rules are staged under /usr; the stage is then brought to what
# Debian's policy asks of a binary package (stripped executable, compressed manual page and
# changelog, copyright, md5sums, dependencies from dpkg-shlibdeps) and built with dpkg-deb,
# owned by root, with every date taken from the changelog so the same tree gives the same bytes.
cmake_minimum_required(VERSION 3.20)

foreach(var BUILD_DIR SOURCE_DIR OUTPUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package.cmake: -D${var}=... is required")
  endif()
  get_filename_component(${var} ${${var}} ABSOLUTE)
endforeach()

# run(<command...>): runs it in RUN_DIR (the current folder when unset), output in RUN_OUTPUT.
function(run)
  if(NOT DEFINED RUN_DIR)
    set(RUN_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${RUN_DIR} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " line)
    message(FATAL_ERROR "package.cmake: `${line}` failed (${rc}):\n${out}${err}")
  endif()
  set(RUN_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

# The version is the tool's own, the one its banner prints.
file(STRINGS ${SOURCE_DIR}/app/version.h version_line REGEX "KESTREL_VERSION_TEXT \"[0-9.]+\"")
string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" version "${version_line}")
if(NOT version MATCHES "^[0-9]+(\\.[0-9]+)*$")
  message(FATAL_ERROR "package.cmake: no KESTREL_VERSION_TEXT in app/version.h")
endif()
set(changelog ${SOURCE_DIR}/packaging/changelog)
run(dpkg-parsechangelog -l ${changelog} -S Version)
string(STRIP "${RUN_OUTPUT}" changelog_version)
if(NOT changelog_version STREQUAL version)
  message(FATAL_ERROR "package.cmake: the tool is version ${version} but the latest entry of "
                      "packaging/changelog is ${changelog_version}: add an entry for ${version}")
endif()
run(dpkg-parsechangelog -l ${changelog} -S Timestamp)
string(STRIP "${RUN_OUTPUT}" timestamp)
run(dpkg-parsechangelog -l ${changelog} -S Maintainer)
string(STRIP "${RUN_OUTPUT}" maintainer)
run(dpkg --print-architecture)
string(STRIP "${RUN_OUTPUT}" arch)

set(work ${BUILD_DIR}/package)
set(root ${work}/root)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${root}/DEBIAN)
run(${CMAKE_COMMAND} -E env DESTDIR=${root} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr)
foreach(path usr/sbin/kestrel usr/share/man/man8/kestrel.8 usr/share/kestrel/Kestrel.efi
             usr/share/doc/kestrel/copyright usr/share/bash-completion/completions/kestrel)
  if(NOT EXISTS ${root}/${path})
    message(FATAL_ERROR "package.cmake: the install rules of ${BUILD_DIR} left no /${path} "
                        "(configure it with -DCMAKE_INSTALL_BINDIR=sbin and build kestrel and "
                        "Kestrel_efi first)")
  endif()
endforeach()

# Policy: no debugging symbols in the shipped executable; manual pages and changelogs gzipped
# without a name or time stamp in the header; plain permissions whatever the umask was.
run(strip --strip-unneeded --remove-section=.comment --remove-section=.note ${root}/usr/sbin/kestrel)
run(gzip -9n ${root}/usr/share/man/man8/kestrel.8 ${root}/usr/share/man/man8/kestrel-stick.8)
file(COPY_FILE ${changelog} ${root}/usr/share/doc/kestrel/changelog)
run(gzip -9n ${root}/usr/share/doc/kestrel/changelog)
run(chmod -R u=rwX,go=rX ${root})
run(chmod 0755 ${root}/usr/sbin/kestrel ${root}/usr/sbin/kestrel-stick)

# Dependencies of the executable as the installed libraries' shlibs and symbols files give them.
# dpkg-shlibdeps wants a source tree with debian/control; a minimal one is enough.
file(WRITE ${work}/src/debian/control
     "Source: kestrel\nMaintainer: ${maintainer}\n\nPackage: kestrel\nArchitecture: any\n")
set(RUN_DIR ${work}/src)
run(dpkg-shlibdeps -O -e${root}/usr/sbin/kestrel)
unset(RUN_DIR)
string(REGEX REPLACE ".*shlibs:Depends=([^\n]*).*" "\\1" depends "${RUN_OUTPUT}")
if(depends STREQUAL RUN_OUTPUT OR depends STREQUAL "")
  message(FATAL_ERROR "package.cmake: dpkg-shlibdeps gave no dependencies: ${RUN_OUTPUT}")
endif()

# md5sums and the installed size, over every file of the package.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
list(SORT files)
set(md5sums "")
set(size 0)
foreach(path ${files})
  file(MD5 ${root}/${path} sum)
  string(APPEND md5sums "${sum}  ${path}\n")
  file(SIZE ${root}/${path} bytes)
  math(EXPR size "${size} + (${bytes} + 1023) / 1024")
endforeach()
file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")

file(WRITE ${root}/DEBIAN/control
"Package: kestrel
Version: ${version}
Architecture: ${arch}
Maintainer: ${maintainer}
Installed-Size: ${size}
Depends: ${depends}
Recommends: dosfstools, mtools
Section: admin
Priority: optional
Description: read, program and clear the Tarn board record in eMMC GPP1
 Kestrel reads, writes, verifies, clears and displays the 176-byte
 board-information record kept in block 0 of the on-board eMMC General
 Purpose Partition 1 (GPP1) of Tarn boards: the Pylon module's serial and MM
 numbers, its Board, Fab and BOM IDs, and the Sandrel carrier's serial number.
 .
 This package holds the Linux front end, kestrel, which runs the tool over the
 board's GPP1 block device or over an image file, with bash completion. Under
 /usr/share/kestrel it also holds the UEFI shell application Kestrel.efi and
 the factory scripts provision.nsh and inspect.nsh, to copy to a USB stick,
 and kestrel-stick, which lays out a stick that boots Kestrel.efi without a
 shell.
")
run(chmod 0644 ${root}/DEBIAN/control ${root}/DEBIAN/md5sums)
run(find ${root} -depth -exec touch -h -d @${timestamp} {} +)

set(deb ${OUTPUT_DIR}/kestrel_${version}_${arch}.deb)
file(MAKE_DIRECTORY ${OUTPUT_DIR})
run(${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${timestamp}
    dpkg-deb --root-owner-group -Zxz --build ${root} ${deb})
message(STATUS "Built ${deb}")
