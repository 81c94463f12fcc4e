# libarchive, compiled for the target from the source package that scripts/setup unpacked: its own CMake
# build, run as an external project with our toolchain file, only its static library, zlib the one
# compressor. Its sources' warnings are not ours: its build keeps its own flags and never -Werror.
include(ExternalProject)

set(LIBARCHIVE_DIR "${TELEMETRY_DEPS_DIR}/libarchive")
if(NOT EXISTS "${LIBARCHIVE_DIR}/libarchive/archive.h")
  message(FATAL_ERROR "libarchive sources missing in ${LIBARCHIVE_DIR}: run scripts/setup")
endif()
set(LIBARCHIVE_ZLIB "/usr/${TELEMETRY_TRIPLE}/lib/libz.a")
if(NOT EXISTS "${LIBARCHIVE_ZLIB}")
  message(FATAL_ERROR "${LIBARCHIVE_ZLIB} missing: run scripts/setup (libz-mingw-w64-dev)")
endif()

set(LIBARCHIVE_BUILD "${CMAKE_BINARY_DIR}/libarchive")
set(LIBARCHIVE_LIB "${LIBARCHIVE_BUILD}/libarchive/libarchive_static.a")
set(libarchive_off)
foreach(option MBEDTLS NETTLE OPENSSL LIBB2 LZ4 LZO LZMA ZSTD BZip2 LIBXML2 EXPAT PCREPOSIX LIBGCC CNG TAR CPIO
               CAT XATTR ACL ICONV TEST INSTALL WERROR)
  list(APPEND libarchive_off -DENABLE_${option}=OFF)
endforeach()
if(CMAKE_GENERATOR MATCHES "Make")
  # As a recursive $(MAKE) its build shares the job slots of ours; a make started by `cmake --build` would
  # compile one file at a time.
  set(libarchive_build_command $(MAKE) archive_static)
else()
  set(libarchive_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target archive_static)
endif()
ExternalProject_Add(libarchive_build
  SOURCE_DIR "${LIBARCHIVE_DIR}"
  BINARY_DIR "${LIBARCHIVE_BUILD}"
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    ${libarchive_off}
    -DENABLE_ZLIB=ON
    # The static zlib by name: a search would take the import library and tie the DLL to zlib1.dll.
    -DZLIB_LIBRARY=${LIBARCHIVE_ZLIB}
    -DZLIB_INCLUDE_DIR=/usr/${TELEMETRY_TRIPLE}/include
    # Without libgcc its regular-expression probe looks for a library that mingw-w64 does not have.
    -DPOSIX_REGEX_LIB=NONE
  BUILD_COMMAND ${libarchive_build_command}
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS "${LIBARCHIVE_LIB}"
  EXCLUDE_FROM_ALL TRUE)
# Built once per tree: its steps run again only when scripts/setup has unpacked other sources (their .ready
# marker names the pinned version and the patches). Then the build starts from an empty folder, since the
# unpacked files keep the release's old times and an incremental build would take them as unchanged.
ExternalProject_Add_Step(libarchive_build fresh
  COMMAND ${CMAKE_COMMAND} -E rm -rf <BINARY_DIR>
  COMMAND ${CMAKE_COMMAND} -E make_directory <BINARY_DIR>
  DEPENDEES patch
  DEPENDERS configure
  DEPENDS "${LIBARCHIVE_DIR}/.ready")

add_library(libarchive STATIC IMPORTED GLOBAL)
set_target_properties(libarchive PROPERTIES IMPORTED_LOCATION "${LIBARCHIVE_LIB}")
target_include_directories(libarchive SYSTEM INTERFACE "${LIBARCHIVE_DIR}/libarchive")
target_compile_definitions(libarchive INTERFACE LIBARCHIVE_STATIC)
target_link_libraries(libarchive INTERFACE "${LIBARCHIVE_ZLIB}")
add_dependencies(libarchive libarchive_build)
