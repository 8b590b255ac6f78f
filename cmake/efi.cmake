# The UEFI image build: every product source compiled for the x86-64 UEFI target with the image
# flags (warnings are errors here too) and linked by lld-link into a PE32+ application.
find_program(KESTREL_CLANG clang++ REQUIRED)
find_program(KESTREL_LLD_LINK lld-link REQUIRED)

# Code generation for firmware: no red zone (interrupts may use the stack below RSP), general
# registers only, no stack probes or protector (there is no runtime to provide them).
set(KESTREL_EFI_CODEGEN_FLAGS
    -ffreestanding -nostdlibinc -fno-exceptions -fno-rtti -mno-red-zone -mgeneral-regs-only
    -mno-stack-arg-probe -fno-stack-protector)
# The image is built for size: every function and datum in its own section so the linker drops
# what nothing references, and link-time optimisation across the whole image. The format
# engine, through which every line of text passes, stays optimised for speed.
set(KESTREL_EFI_SIZE_FLAGS -Oz)
set(KESTREL_EFI_SPEED_FLAGS -O2)
set(KESTREL_EFI_SPEED_SOURCES ${CMAKE_SOURCE_DIR}/shell/format.cpp)
set(KESTREL_EFI_SECTION_FLAGS -ffunction-sections -fdata-sections)
set(KESTREL_EFI_LTO_FLAGS -flto)
# The compiler support routines (memcpy, memset) stay outside link-time optimisation: the code
# generator may call them after the bitcode has been optimised, so they must stay real objects.
set(KESTREL_EFI_NO_LTO_SOURCES ${CMAKE_SOURCE_DIR}/platform/efi_support.cpp)
set(KESTREL_EFI_CXX_FLAGS
    --target=x86_64-unknown-windows -std=c++20 ${KESTREL_EFI_CODEGEN_FLAGS}
    ${KESTREL_EFI_SECTION_FLAGS} -Wall -Wextra -Werror -I${CMAKE_SOURCE_DIR}
    ${KESTREL_PLATFORM_DEFINE_LIST})
set(KESTREL_EFI_DIR ${CMAKE_BINARY_DIR}/efi)

# kestrel_efi_optimisation(<out-var> <source>): the optimisation flags the image uses for a
# source (the benchmark builds the format engine with them too).
function(kestrel_efi_optimisation out_var src)
  if(src IN_LIST KESTREL_EFI_SPEED_SOURCES)
    set(${out_var} ${KESTREL_EFI_SPEED_FLAGS} PARENT_SCOPE)
  else()
    set(${out_var} ${KESTREL_EFI_SIZE_FLAGS} PARENT_SCOPE)
  endif()
endfunction()

# kestrel_efi_objects(<out-var> <tag> <sources...>): one .obj per source.
function(kestrel_efi_objects out_var tag)
  set(objs)
  foreach(src ${ARGN})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${src})
    string(REPLACE "/" "_" flat ${rel})
    set(obj ${KESTREL_EFI_DIR}/${tag}/${flat}.obj)
    kestrel_efi_optimisation(opt ${src})
    if(NOT src IN_LIST KESTREL_EFI_NO_LTO_SOURCES)
      list(APPEND opt ${KESTREL_EFI_LTO_FLAGS})
    endif()
    add_custom_command(
      OUTPUT ${obj}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_EFI_DIR}/${tag}
      COMMAND ${KESTREL_CLANG} ${KESTREL_EFI_CXX_FLAGS} ${opt} -MD -MF ${obj}.d -c ${src} -o ${obj}
      DEPENDS ${src} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      DEPFILE ${obj}.d
      COMMENT "UEFI ${rel}"
      VERBATIM)
    list(APPEND objs ${obj})
  endforeach()
  set(${out_var} ${objs} PARENT_SCOPE)
endfunction()

# kestrel_efi_image(<name> <entry> <subsystem> <objs...>): link a PE32+ image, with a map of
# every section and symbol beside it (<name>.map; bench/image_sizes.py reads it).
function(kestrel_efi_image name entry subsystem)
  set(out ${CMAKE_BINARY_DIR}/${name})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${KESTREL_LLD_LINK} -subsystem:${subsystem} -entry:${entry} -nodefaultlib -Brepro
            -machine:x64 -lldmap:${out}.map -out:${out} ${ARGN}
    DEPENDS ${ARGN}
    COMMENT "Linking ${name}"
    VERBATIM)
  string(REPLACE "." "_" target ${name})
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()

file(GLOB KESTREL_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/*.cpp)
kestrel_efi_objects(KESTREL_EFI_OBJS app ${KESTREL_PRODUCT_SOURCES} ${KESTREL_PLATFORM_SOURCES}
                    ${CMAKE_SOURCE_DIR}/main/efi_main.cpp)
add_custom_target(efi_objects ALL DEPENDS ${KESTREL_EFI_OBJS})

if(EXISTS ${CMAKE_SOURCE_DIR}/main/efi_main.cpp)
  kestrel_efi_image(Kestrel.efi EfiMain efi_application ${KESTREL_EFI_OBJS})
endif()
