# minizip (unzip and zip parts) compiled from Debian's zlib source package,
# which scripts/setup.sh fetches into VELMAR_DEPS_DIR. Nothing is vendored.
set(VELMAR_DEPS_DIR "/var/cache/velmar-deps" CACHE PATH "Where scripts/setup.sh put the zlib source")
set(minizip_dir ${VELMAR_DEPS_DIR}/zlib-src/contrib/minizip)
if(NOT EXISTS ${minizip_dir}/unzip.c)
  message(FATAL_ERROR "minizip source not found in ${minizip_dir}: run scripts/setup.sh")
endif()

if(WIN32)
  # The launcher must not need zlib1.dll beside it.
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

add_library(minizip STATIC ${minizip_dir}/unzip.c ${minizip_dir}/zip.c ${minizip_dir}/ioapi.c)
if(WIN32)
  target_sources(minizip PRIVATE ${minizip_dir}/iowin32.c)
endif()
target_include_directories(minizip SYSTEM PUBLIC ${minizip_dir})
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
# Third-party code: keep its warnings out of the project's -Werror.
target_compile_options(minizip PRIVATE -w)
