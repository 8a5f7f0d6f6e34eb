// The version of QM, as the build gives it (the project's VERSION in the
// top-level CMakeLists.txt): what every program's --version prints and what
// the shared library's file name carries.
#pragma once

#ifndef QM_VERSION
#error "QM_VERSION is defined by the build"
#endif

namespace qm {

inline constexpr const char kVersion[] = QM_VERSION;

}  // namespace qm
