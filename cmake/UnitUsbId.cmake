# SPDX-License-Identifier: GPL-3.0-or-later
# The unit's USB ids, VVVV:PPPP. The pid.codes test pair stands in for the
# unit's own; a packager who knows the real pair sets it here, and both the
# program's default and the packaged access rule follow.
set(VCC_UNIT_USB_ID "1209:0001" CACHE STRING
    "USB vendor:product ids of the unit (VVVV:PPPP): the program's default and the packaged access rule")

set(_hex4 "[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]")
if(NOT VCC_UNIT_USB_ID MATCHES "^(${_hex4}):(${_hex4})$" OR CMAKE_MATCH_1 STREQUAL "0000")
  message(FATAL_ERROR "VCC_UNIT_USB_ID=${VCC_UNIT_USB_ID}: expected VVVV:PPPP, four hexadecimal "
                      "digits each (vendor not 0000), e.g. 1209:0001")
endif()
string(TOUPPER ${CMAKE_MATCH_1} VCC_UNIT_VENDOR_ID)
string(TOUPPER ${CMAKE_MATCH_2} VCC_UNIT_PRODUCT_ID)
# udev compares sysfs text, which the kernel writes in lower case.
string(TOLOWER ${VCC_UNIT_VENDOR_ID} VCC_UNIT_VENDOR_ID_SYSFS)
string(TOLOWER ${VCC_UNIT_PRODUCT_ID} VCC_UNIT_PRODUCT_ID_SYSFS)

add_compile_definitions(VCC_UNIT_VENDOR_ID=0x${VCC_UNIT_VENDOR_ID}
                        VCC_UNIT_PRODUCT_ID=0x${VCC_UNIT_PRODUCT_ID})
