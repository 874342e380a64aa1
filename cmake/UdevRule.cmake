# The udev rule that lets users open the cards without root: the logged-in
# user at the seat (uaccess) and the members of plugdev (for sessions
# without a seat, e.g. over ssh). One line per pair of KVD4093_USB_IDS; with
# no pair the rule holds only an example to copy.
set(KVD4093_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Where cmake --install puts 70-kvd4093.rules (relative to the prefix; udev reads /usr/lib/udev/rules.d and /etc/udev/rules.d)")

set(KVD4093_UDEV_LINES "")
string(REPLACE "," ";" kvd4093_pairs "${KVD4093_USB_IDS}")
foreach(pair IN LISTS kvd4093_pairs)
  string(STRIP "${pair}" pair)
  if(NOT pair MATCHES "^([0-9A-Fa-f]+):([0-9A-Fa-f]+)$")
    message(FATAL_ERROR "KVD4093_USB_IDS: \"${pair}\" is not a vendor:product pair such as 1209:0001")
  endif()
  string(TOLOWER "${CMAKE_MATCH_1}" vendor)
  string(TOLOWER "${CMAKE_MATCH_2}" product)
  string(APPEND KVD4093_UDEV_LINES
    "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${vendor}\", ATTR{idProduct}==\"${product}\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"\n")
endforeach()
if(KVD4093_UDEV_LINES STREQUAL "")
  set(KVD4093_UDEV_LINES
    "# No pair was configured (cmake -DKVD4093_USB_IDS=vvvv:pppp). For a card that lsusb\n# shows as ID 1209:0001, the rule is:\n# SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1209\", ATTR{idProduct}==\"0001\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"\n")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/70-kvd4093.rules
  "# KVD4093 data-acquisition cards on USB: opened by libkvd4093 through libusb.\n${KVD4093_UDEV_LINES}")
install(FILES ${PROJECT_BINARY_DIR}/70-kvd4093.rules DESTINATION ${KVD4093_UDEV_RULES_DIR})
