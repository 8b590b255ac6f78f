# The UEFI image build: every product source compiled for the x86-64 UEFI target with the image
# flags (warnings are errors here too) and linked by lld-link into a PE32+ application.
find_program(KESTREL_CLANG clang++ REQUIRED)
find_program(KESTREL_LLD_LINK lld-link REQUIRED)

set(KESTREL_EFI_CXX_FLAGS
    --target=x86_64-unknown-windows -std=c++20 -ffreestanding -nostdlibinc -fno-exceptions
    -fno-rtti -mno-red-zone -mgeneral-regs-only -mno-stack-arg-probe -fno-stack-protector -O2
    -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR} ${KESTREL_PLATFORM_DEFINE_LIST})
set(KESTREL_EFI_DIR ${CMAKE_BINARY_DIR}/efi)

# kestrel_efi_objects(<out-var> <tag> <sources...>): one .obj per source.
function(kestrel_efi_objects out_var tag)
  set(objs)
  foreach(src ${ARGN})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${src})
    string(REPLACE "/" "_" flat ${rel})
    set(obj ${KESTREL_EFI_DIR}/${tag}/${flat}.obj)
    add_custom_command(
      OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_EFI_DIR}/${tag}
      COMMAND ${KESTREL_CLANG} ${KESTREL_EFI_CXX_FLAGS} -MD -MF ${obj}.d -c ${src} -o ${obj}
      DEPENDS ${src}
      DEPFILE ${obj}.d
      COMMENT "UEFI ${rel}"
      VERBATIM)
    list(APPEND objs ${obj})
  endforeach()
  set(${out_var} ${objs} PARENT_SCOPE)
endfunction()

# kestrel_efi_image(<name> <entry> <subsystem> <objs...>): link a PE32+ image.
function(kestrel_efi_image name entry subsystem)
  set(out ${CMAKE_BINARY_DIR}/${name})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${KESTREL_LLD_LINK} -subsystem:${subsystem} -entry:${entry} -nodefaultlib -Brepro
            -machine:x64 -out:${out} ${ARGN}
    DEPENDS ${ARGN}
    COMMENT "Linking ${name}"
    VERBATIM)
  string(REPLACE "." "_" target ${name})
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()

file(GLOB KESTREL_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*.cpp)
kestrel_efi_objects(KESTREL_EFI_OBJS app ${KESTREL_PRODUCT_SOURCES} ${KESTREL_PLATFORM_SOURCES})
add_custom_target(efi_objects ALL DEPENDS ${KESTREL_EFI_OBJS})

if(EXISTS ${CMAKE_SOURCE_DIR}/shell/entry.cpp)
  kestrel_efi_image(Kestrel.efi EfiMain efi_application ${KESTREL_EFI_OBJS})
endif()
