// The program's version, set once: CMake's project version, which the build
// hands to every target as KITWEAVER_VERSION.
#pragma once

#ifndef KITWEAVER_VERSION
#error "KITWEAVER_VERSION comes from the build (CMake's project version)"
#endif

namespace kitweaver {

// The banner and the --version line of both programs: "Kitweaver 1.1".
inline constexpr char kVersionLine[] = "Kitweaver " KITWEAVER_VERSION;

}  // namespace kitweaver
