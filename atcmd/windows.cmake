# The Windows executable: GUI subsystem (no console; main stays the entry),
# static runtime so only system DLLs are needed, version and manifest.
enable_language(RC)

# The manifest names the processor architecture the program is built for.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ATCMD_MANIFEST_ARCH amd64)
else()
  set(ATCMD_MANIFEST_ARCH x86)
endif()
configure_file(atcmd.manifest.in atcmd.manifest @ONLY)

target_sources(atcmd PRIVATE atcmd.rc)
# windres finds the generated manifest through the include path.
target_include_directories(atcmd PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
set_source_files_properties(atcmd.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/atcmd.manifest)
target_compile_definitions(atcmd PRIVATE
  $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
  $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
  $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_PATCH=${PROJECT_VERSION_PATCH}>
  $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}>)

set_target_properties(atcmd PROPERTIES WIN32_EXECUTABLE ON)
target_link_options(atcmd PRIVATE -static -static-libgcc -static-libstdc++)
# The static runtime brings its own debug sections; a shipped build drops them.
target_link_options(atcmd PRIVATE $<$<NOT:$<CONFIG:Debug>>:-s>)
