# The Windows executable: GUI subsystem (no console; main stays the entry),
# shipped form (version, manifest, static runtime) as cmake/WindowsExecutable.cmake.
include(${PROJECT_SOURCE_DIR}/cmake/WindowsExecutable.cmake)
atcmd_windows_executable(atcmd atcmd.rc)
set_target_properties(atcmd PROPERTIES WIN32_EXECUTABLE ON)
