# Writes who the program is, from the values set in the top-level
# CMakeLists.txt, into generated/product_identity.h (C++ and the resource
# compilers) and generated/product_identity.nsh (the installer).
set(SNAPLARK_PRODUCT ${PROJECT_NAME})
set(SNAPLARK_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(SNAPLARK_FILE_VERSION ${SNAPLARK_VERSION}.0)
set(SNAPLARK_SETTINGS_KEY "Software\\${SNAPLARK_MAKER}\\${SNAPLARK_FAMILY}")
set(SNAPLARK_DATA_SOURCE_FILE ${SNAPLARK_FAMILY}.ds)
set(SNAPLARK_TRAY_CLASS ${SNAPLARK_FAMILY}Tray)
set(SNAPLARK_INSTANCE_MUTEX ${SNAPLARK_FAMILY}_SingleInstance)

# C string literals need their backslashes doubled; NSIS takes them as they are.
string(REPLACE "\\" "\\\\" SNAPLARK_SETTINGS_KEY_C "${SNAPLARK_SETTINGS_KEY}")

set(SNAPLARK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/product_identity.h.in ${SNAPLARK_GENERATED_DIR}/product_identity.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/product_identity.nsh.in ${SNAPLARK_GENERATED_DIR}/product_identity.nsh @ONLY)

add_library(snaplark_identity INTERFACE)
target_include_directories(snaplark_identity INTERFACE ${SNAPLARK_GENERATED_DIR})
