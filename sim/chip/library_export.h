// Marks an entry point of a stand-in library as exported. On Windows the
// exports come from a generated .def file; elsewhere the libraries are built
// with hidden visibility and only the entry points are shown.
#pragma once

#if defined(_WIN32)
#define QZSIM_EXPORT
#else
#define QZSIM_EXPORT __attribute__((visibility("default")))
#endif
