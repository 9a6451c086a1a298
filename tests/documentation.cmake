# What the manual page and the shell completion promise, checked against the
# program itself: every option --help lists is in both, every report format
# completes, and groff renders the page without a warning.
#   cmake -DCHECK_PROGRAM=<tessaly-check> -DMANUAL=<page> -DCOMPLETION=<script> -P documentation.cmake
execute_process(COMMAND ${CHECK_PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CHECK_PROGRAM} --help failed")
endif()
string(REGEX MATCHALL "(^|\n) +(-[a-z], )?--[a-z-]+" option_lines "${help}")
if(NOT option_lines)
  message(FATAL_ERROR "no options in --help: ${help}")
endif()
file(READ ${MANUAL} manual)
file(READ ${COMPLETION} completion)
foreach(line IN LISTS option_lines)
  string(REGEX MATCHALL "-?-[a-z-]+" names "${line}")
  foreach(name IN LISTS names)
    # The page writes each hyphen as \- so that it prints as one; the name
    # stands whole (-v is not the start of --valid, nor --help of --help-all).
    string(REPLACE "-" "\\\\-" pattern "${name}")
    if(NOT manual MATCHES "(^|[ \n\"])${pattern}([ \n\",]|$)")
      message(FATAL_ERROR "${MANUAL} does not name ${name}")
    endif()
    if(NOT completion MATCHES "[ '\n]${name}[ '\n]")
      message(FATAL_ERROR "${COMPLETION} does not complete ${name}")
    endif()
  endforeach()
endforeach()

string(REGEX MATCH "Report as ([a-z]+) \\(default\\) or ([a-z, ]+)\\." formats "${help}")
if(NOT formats)
  message(FATAL_ERROR "--help no longer names the report formats as this check reads them")
endif()
string(REPLACE ", " ";" others "${CMAKE_MATCH_2}")
foreach(format IN ITEMS ${CMAKE_MATCH_1} ${others})
  execute_process(COMMAND bash -c "source '${COMPLETION}'; COMP_WORDS=(tessaly-check --format ''); COMP_CWORD=2; _tessaly_check; printf '%s ' \"\${COMPREPLY[@]}\""
                  OUTPUT_VARIABLE offered)
  if(NOT offered MATCHES "(^| )${format} ")
    message(FATAL_ERROR "--format does not complete to ${format}: ${offered}")
  endif()
endforeach()

execute_process(COMMAND groff -man -ww -z ${MANUAL} ERROR_VARIABLE warnings RESULT_VARIABLE failed)
if(failed OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${MANUAL}: ${warnings}")
endif()
message(STATUS "documentation: ${MANUAL} and ${COMPLETION} cover --help")
