# Copies of Launcher.efi, SimBoard.efi and Kestrel.efi signed with the test key that Debian's ovmf
# package ships for its snakeoil Secure Boot variable store (the key's passphrase is published
# with it), in e2e-signed/ of the build folder: the images the Secure Boot sessions boot.
find_program(KESTREL_SBSIGN sbsign)
find_program(KESTREL_OPENSSL openssl)
set(KESTREL_TEST_KEY /usr/share/ovmf/PkKek-1-snakeoil.key)
set(KESTREL_TEST_CERT /usr/share/ovmf/PkKek-1-snakeoil.pem)
set(KESTREL_SIGNED_DIR ${CMAKE_BINARY_DIR}/e2e-signed)
if(KESTREL_SBSIGN AND KESTREL_OPENSSL AND EXISTS ${KESTREL_TEST_KEY})
  set(signed_images)
  foreach(image Kestrel.efi SimBoard.efi Launcher.efi)
    add_custom_command(
      OUTPUT ${KESTREL_SIGNED_DIR}/${image}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_SIGNED_DIR}
      COMMAND ${CMAKE_COMMAND} -E env KEY_PASS=snakeoil ${CMAKE_SOURCE_DIR}/scripts/sign-efi
              ${CMAKE_BINARY_DIR}/${image} ${KESTREL_TEST_KEY} ${KESTREL_TEST_CERT}
              ${KESTREL_SIGNED_DIR}/${image}
      DEPENDS ${CMAKE_BINARY_DIR}/${image} ${CMAKE_SOURCE_DIR}/scripts/sign-efi
      COMMENT "Signing ${image} with OVMF's test key for the Secure Boot sessions"
      VERBATIM)
    list(APPEND signed_images ${KESTREL_SIGNED_DIR}/${image})
  endforeach()
  add_custom_target(e2e_signed_images ALL DEPENDS ${signed_images})
  add_dependencies(e2e_signed_images Kestrel_efi SimBoard_efi Launcher_efi)
else()
  message(STATUS "sbsign, openssl or OVMF's test key missing: no signed test images, so the "
                 "Secure Boot sessions will fail (scripts/install-deps installs them)")
endif()
