# Finds libsamplerate (Debian: libsamplerate0-dev) and defines
# SampleRate::samplerate.
find_path(SampleRate_INCLUDE_DIR samplerate.h)
find_library(SampleRate_LIBRARY samplerate)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(SampleRate REQUIRED_VARS SampleRate_LIBRARY SampleRate_INCLUDE_DIR)
if(SampleRate_FOUND AND NOT TARGET SampleRate::samplerate)
  add_library(SampleRate::samplerate UNKNOWN IMPORTED)
  set_target_properties(SampleRate::samplerate PROPERTIES
    IMPORTED_LOCATION "${SampleRate_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${SampleRate_INCLUDE_DIR}")
endif()
mark_as_advanced(SampleRate_INCLUDE_DIR SampleRate_LIBRARY)
