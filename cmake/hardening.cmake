# Build-wide switches for the fuzz targets and the coverage build. Included before the
# libraries are defined, since both instrument the product sources themselves.
option(KESTREL_FUZZ "Build the libFuzzer targets (make fuzz)" OFF)
option(KESTREL_COVERAGE "Instrument the host build for source-based coverage (make coverage)" OFF)

if(KESTREL_FUZZ)
  # Coverage feedback for libFuzzer in every host object; the driver is linked per target.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(KESTREL_COVERAGE)
  add_compile_options(-fprofile-instr-generate -fcoverage-mapping)
  add_link_options(-fprofile-instr-generate)
endif()

option(KESTREL_BENCH "Build the benchmarks (make bench)" OFF)
