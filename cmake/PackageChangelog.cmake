cmake_minimum_required(VERSION 3.25)
# A package's changelog.gz: the project's Debian changelog with the package's name, compressed
# without a time stamp so that the package builds the same every time.
file(READ ${IN} text)
string(REPLACE "@PACKAGE@" "${PACKAGE}" text "${text}")
get_filename_component(dir ${OUT} DIRECTORY)
file(WRITE ${dir}/changelog "${text}")
execute_process(COMMAND ${GZIP} -9nf ${dir}/changelog RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${dir}/changelog")
endif()
