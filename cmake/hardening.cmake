# The hardening Debian builds its packages with, as far as this compiler and
# linker offer it, for the shipped programs and all the code they link: stack
# canaries, checked string and memory functions (which need optimisation),
# probes against stack clashes and control-flow protection, a random load
# address and relocated data made read-only once started. Instrumented builds
# (sanitizers, coverage, fuzzing) link dynamically and leave it out.
#
# Defines:
#   sizestamp_hardening            INTERFACE target: every target whose code
#                                  ships links it (its link options suit any
#                                  program that links that code, tests too)
#   SIZESTAMP_PROGRAM_LINK_OPTIONS how a shipped program itself is linked
#   SIZESTAMP_LINKING              how the POSIX program is linked, static or
#                                  dynamic, as its hardening test expects it
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

add_library(sizestamp_hardening INTERFACE)
set(SIZESTAMP_PROGRAM_LINK_OPTIONS "")
set(SIZESTAMP_LINKING dynamic)

if(NOT SIZESTAMP_STATIC)
  return()
endif()

if(MSVC)
  # Control Flow Guard, a random high-entropy load address and data
  # execution prevention; the compiler's stack canaries (/GS) are on by default.
  target_compile_options(sizestamp_hardening INTERFACE /guard:cf)
  target_link_options(sizestamp_hardening INTERFACE /guard:cf /DYNAMICBASE /HIGHENTROPYVA /NXCOMPAT)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

# Compiles with flag where this compiler takes it; result names the probe's cache entry.
function(sizestamp_harden_with flag result)
  check_cxx_compiler_flag(${flag} ${result})
  if(${result})
    target_compile_options(sizestamp_hardening INTERFACE ${flag})
  endif()
endfunction()

sizestamp_harden_with(-fstack-protector-strong SIZESTAMP_HAS_STACK_PROTECTOR)

if(WIN32)
  # The canary check lives in libssp, which the driver links (statically,
  # with -static) only when it sees the option at link time: so does
  # whatever links this code, the unit tests too.
  if(SIZESTAMP_HAS_STACK_PROTECTOR)
    target_link_options(sizestamp_hardening INTERFACE -fstack-protector-strong)
  endif()
  return()
endif()

# Each flag only where this compiler takes it.
sizestamp_harden_with(-fstack-clash-protection SIZESTAMP_HAS_STACK_CLASH_PROTECTION)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  sizestamp_harden_with(-fcf-protection SIZESTAMP_HAS_CF_PROTECTION)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  sizestamp_harden_with(-mbranch-protection=standard SIZESTAMP_HAS_BRANCH_PROTECTION)
endif()
# Some toolchains set _FORTIFY_SOURCE themselves, at a level of their
# own (3 on some distributions); defining it again is an error under
# -Werror. The probe optimises, as such toolchains set it only then.
set(CMAKE_REQUIRED_FLAGS -O2)
check_cxx_source_compiles([[
  #include <cstddef>
  #ifdef _FORTIFY_SOURCE
  #error "the toolchain sets _FORTIFY_SOURCE"
  #endif
  int main() { return 0; }]] SIZESTAMP_FORTIFY_UNSET)
unset(CMAKE_REQUIRED_FLAGS)
if(SIZESTAMP_FORTIFY_UNSET)
  target_compile_options(sizestamp_hardening INTERFACE $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
endif()
check_linker_flag(CXX -Wl,-z,relro,-z,now SIZESTAMP_LINKER_TAKES_RELRO_NOW)
if(SIZESTAMP_LINKER_TAKES_RELRO_NOW)
  target_link_options(sizestamp_hardening INTERFACE -Wl,-z,relro,-z,now)
endif()

# A statically linked program starts in half the time; start-up is most of its run.
# As a static PIE it still loads at a random address, and once it has
# relocated itself its relocated data turns read-only (relro, now).
# Where the static libraries are missing, a dynamic PIE.
target_compile_options(sizestamp_hardening INTERFACE -fPIE)
set(CMAKE_REQUIRED_FLAGS -fPIE)
set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie)
check_cxx_source_compiles([[
  #include <stdexcept>
  #include <string>
  int main(int argc, char**) {
    try {
      if (argc > 9) throw std::runtime_error(std::string(argc, 'x'));
    } catch (const std::exception& error) {
      return static_cast<int>(error.what()[0]);
    }
    return 0;
  }]] SIZESTAMP_STATIC_PIE_LINKS)
if(SIZESTAMP_STATIC_PIE_LINKS)
  set(SIZESTAMP_LINKING static)
  list(APPEND SIZESTAMP_PROGRAM_LINK_OPTIONS -static-pie)
  # Relocating itself slows its start; dropping the sections of the
  # runtimes that nothing calls and packing the relocations (DT_RELR) win
  # that back (bench/bench.py). Packed relocations need binutils 2.38 for
  # x86 (2.40 ignores them for arm64) and a C library that applies them in
  # a static PIE, glibc 2.36: without both they are left out.
  set(CMAKE_REQUIRED_LINK_OPTIONS -static-pie -Wl,-z,pack-relative-relocs)
  check_cxx_source_compiles([[
    #include <features.h>
    #if !__GLIBC_PREREQ(2, 36)
    #error "the C library leaves packed relocations of a static PIE unapplied"
    #endif
    int main() { return 0; }]] SIZESTAMP_PACKED_RELOCATIONS FAIL_REGEX "pack-relative-relocs ignored")
  if(SIZESTAMP_PACKED_RELOCATIONS)
    list(APPEND SIZESTAMP_PROGRAM_LINK_OPTIONS -Wl,-z,pack-relative-relocs)
  endif()
else()
  list(APPEND SIZESTAMP_PROGRAM_LINK_OPTIONS -pie)
endif()
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
check_linker_flag(CXX -Wl,--gc-sections SIZESTAMP_LINKER_TAKES_GC_SECTIONS)
if(SIZESTAMP_LINKER_TAKES_GC_SECTIONS)
  list(APPEND SIZESTAMP_PROGRAM_LINK_OPTIONS -Wl,--gc-sections)
endif()
