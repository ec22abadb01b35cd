# "format" rewrites every C++ file of the tree after .clang-format; "check" only reports the files that
# differ from it and fails then. Neither is part of the default build or of the tests.
find_program(CLANG_FORMAT_PROGRAM clang-format)
if(CLANG_FORMAT_PROGRAM)
  file(GLOB_RECURSE corvane_format_files CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/*.cpp ${PROJECT_SOURCE_DIR}/src/*.h
    ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h
    ${PROJECT_SOURCE_DIR}/tools/bench/*.cpp ${PROJECT_SOURCE_DIR}/tools/bench/*.h)
  add_custom_target(format
    COMMAND ${CLANG_FORMAT_PROGRAM} -i ${corvane_format_files}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Formatting the C++ files with clang-format"
    VERBATIM)
  add_custom_target(check
    COMMAND ${CLANG_FORMAT_PROGRAM} --dry-run --Werror ${corvane_format_files}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Checking the C++ files against .clang-format"
    VERBATIM)
endif()
