if(NOT CPACK_PACKAGE_CONTACT)
  message(FATAL_ERROR "No package maintainer: configure with -DBF2_MAINTAINER=\"Name <address>\"")
endif()
