# SPDX-License-Identifier: GPL-3.0-or-later
# Sources of the driver layer, shared by the main build and the
# ThreadSanitizer build in tests/wdu/tsan.
set(VCC_WDU_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WduTypes.h
  ${CMAKE_CURRENT_LIST_DIR}/DriverStandIn.h
  ${CMAKE_CURRENT_LIST_DIR}/DevList.h ${CMAKE_CURRENT_LIST_DIR}/DevList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Wdu.h ${CMAKE_CURRENT_LIST_DIR}/Wdu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceDescription.h ${CMAKE_CURRENT_LIST_DIR}/DeviceDescription.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StandInBase.h ${CMAKE_CURRENT_LIST_DIR}/StandInBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibusbStandIn.h ${CMAKE_CURRENT_LIST_DIR}/LibusbStandIn.cpp
)
# The USB link over the layer (plain C++ as well).
set(VCC_USBLINK_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../UsbLink.h ${CMAKE_CURRENT_LIST_DIR}/../UsbLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../UnitUsbId.h ${CMAKE_CURRENT_LIST_DIR}/../UnitUsbId.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../FindUnit.h ${CMAKE_CURRENT_LIST_DIR}/../FindUnit.cpp
)
# The stand-in that hosts the simulated unit.
set(VCC_SIMDRIVER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../../../unit-sim/SimDriver.h
  ${CMAKE_CURRENT_LIST_DIR}/../../../unit-sim/SimDriver.cpp
)
