# tessaly-check's JUnit report, held to the schema CI systems read it by:
# documents with links that pass, fail and are skipped, and a list with
# addresses that markup, quotes and control characters would break, none
# asked of a server.
#   cmake -DCHECK_PROGRAM=<tessaly-check> -DSOURCE=<tests/junit> -DREPORT=<file> -P junit.cmake
# With -DXML=<file> the file alone is held to the schema, to show that the
# check refuses what is not JUnit.
if(NOT DEFINED XML)
  execute_process(COMMAND ${CHECK_PROGRAM} --format junit --output ${REPORT} site list.txt
                  WORKING_DIRECTORY ${SOURCE} RESULT_VARIABLE status ERROR_VARIABLE messages)
  if(NOT status EQUAL 1)
    message(FATAL_ERROR "tessaly-check ended with ${status}, not 1 (some invalid): ${messages}")
  endif()
  set(XML ${REPORT})
  file(READ ${XML} report)
  foreach(expected IN ITEMS "failures=\"" "<skipped" "file=\"site/a.md\" line=\"3\"" "classname=\"list.txt\"")
    string(FIND "${report}" "${expected}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "the report holds no ${expected}: ${report}")
    endif()
  endforeach()
endif()
execute_process(COMMAND xmllint --schema ${SOURCE}/junit.xsd --noout ${XML} RESULT_VARIABLE invalid ERROR_VARIABLE said)
if(invalid)
  message(FATAL_ERROR "${XML} is not valid JUnit: ${said}")
endif()
message(STATUS "${XML} is valid JUnit")
