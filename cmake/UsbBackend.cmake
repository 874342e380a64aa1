# The Linux card backend: libusb-1.0 when pkg-config finds it, else the
# backend that finds no card. KVD4093_USB_IDS names the cards' vendor:product
# pairs built in (used when the environment variable of that name is unset)
# and put in the installed udev rule.
set(KVD4093_USB_IDS "" CACHE STRING "The cards' USB vendor:product pairs (hex), e.g. 1209:0001,1209:0002")
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBUSB QUIET IMPORTED_TARGET GLOBAL libusb-1.0)
endif()
if(LIBUSB_FOUND)
  set(KVD4093_HAVE_LIBUSB ON CACHE INTERNAL "libusb-1.0 card backend")
  list(FILTER KVD4093_OS_SOURCES EXCLUDE REGEX "/no_card_backend\\.cpp$")
  file(GLOB KVD4093_USB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/usb/*.cpp)
  list(APPEND KVD4093_OS_SOURCES ${KVD4093_USB_SOURCES})
  message(STATUS "Card backend: libusb-1.0 ${LIBUSB_VERSION} (cards: ${KVD4093_USB_IDS})")
else()
  set(KVD4093_HAVE_LIBUSB OFF CACHE INTERNAL "libusb-1.0 card backend")
  message(WARNING "libusb-1.0 not found (Debian: libusb-1.0-0-dev): the library is built without "
                  "the USB card backend and finds no real card; virtual cards still work.")
endif()
