# Values compiled into the program as constants. Nothing of this is read at run time.
set(CORVANE_ACCOUNT_URL "https://support.corvane.example" CACHE STRING
    "Scheme, host and optional port of the account service")
set(CORVANE_S3_ENDPOINT "s3.amazonaws.com" CACHE STRING
    "Host and optional port of the S3 global endpoint")
set(CORVANE_S3_SCHEME "https" CACHE STRING "URL scheme of the storage requests")
set(CORVANE_S3_ACCESS_KEY_ID "" CACHE STRING "Built-in S3 access key ID")
set(CORVANE_S3_SECRET_ACCESS_KEY "" CACHE STRING "Built-in S3 secret access key")

configure_file(${CMAKE_CURRENT_LIST_DIR}/BuildSettings.h.in
               ${CMAKE_BINARY_DIR}/generated/config/BuildSettings.h @ONLY)

add_library(corvane_build_settings INTERFACE)
target_include_directories(corvane_build_settings INTERFACE ${CMAKE_BINARY_DIR}/generated)
