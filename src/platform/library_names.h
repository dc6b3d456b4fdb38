#pragma once

namespace qz {

// File names of the closed libraries on this platform. The FT232H link
// tries the primary name first, then the fallback (nullptr where none), and
// where D2XX does not load libftdi1 (nullptr where the platform has none).
struct LibraryNames {
    const char *qz_usb;
    const char *qz_iicgpio;
    const char *ftd2xx;
    const char *ftd2xx_fallback;
    const char *libftdi;
};

#ifdef _WIN32
inline constexpr LibraryNames kLibraryNames = {"QZ_USB.dll", "QZ_IICGPIO.dll", "ftd2xx64.dll", "ftd2xx.dll",
                                              nullptr};
#else
inline constexpr LibraryNames kLibraryNames = {"libQZ_USB.so", "libQZ_IICGPIO.so", "libftd2xx.so", nullptr,
                                              "libftdi1.so.2"};
#endif

}  // namespace qz
