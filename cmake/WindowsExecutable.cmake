# The form in which atcmd's Windows executables ship: the shared version
# resource and manifest (cmake/windows/), a static runtime so only system
# DLLs are needed, no debug sections outside Debug builds. Each program keeps
# its own .rc beside its sources. Included by each folder that builds one;
# RC is enabled per directory.
enable_language(RC)

set(ATCMD_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/windows)
set(ATCMD_GENERATED_RESOURCE_DIR ${PROJECT_BINARY_DIR}/resources)

# The manifest names the processor architecture the programs are built for.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ATCMD_MANIFEST_ARCH amd64)
else()
  set(ATCMD_MANIFEST_ARCH x86)
endif()
configure_file(${ATCMD_RESOURCE_DIR}/atcmd.manifest.in ${ATCMD_GENERATED_RESOURCE_DIR}/atcmd.manifest @ONLY)

# atcmd_windows_executable(target rc_file): rc_file defines the per-file
# strings and includes shared_resources.rc.
function(atcmd_windows_executable target rc_file)
  target_sources(${target} PRIVATE ${rc_file})
  set_source_files_properties(${rc_file} PROPERTIES OBJECT_DEPENDS
    "${ATCMD_RESOURCE_DIR}/shared_resources.rc;${ATCMD_GENERATED_RESOURCE_DIR}/atcmd.manifest")
  # windres finds the shared block, and the generated manifest, through the
  # include path.
  target_include_directories(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:RC>:${ATCMD_RESOURCE_DIR}>
    $<$<COMPILE_LANGUAGE:RC>:${ATCMD_GENERATED_RESOURCE_DIR}>)
  target_compile_definitions(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
    $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
    $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_PATCH=${PROJECT_VERSION_PATCH}>
    $<$<COMPILE_LANGUAGE:RC>:ATCMD_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}>)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  # The static runtime brings its own debug sections; a shipped build drops them.
  target_link_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-s>)
  # The PE time stamp (and so the checksum over the image) is
  # SOURCE_DATE_EPOCH: the linker takes it from the environment when told to
  # insert one. A new value relinks.
  target_link_options(${target} PRIVATE LINKER:--insert-timestamp)
  set_target_properties(${target} PROPERTIES
    CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${ATCMD_SOURCE_DATE_EPOCH}"
    LINK_DEPENDS ${ATCMD_SOURCE_DATE_EPOCH_FILE})
endfunction()
